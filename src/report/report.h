// The library's own texts: the report on the machine and the time stamp,
// emitted as messages with no category and no identifier.
#pragma once

namespace trovex {

struct OutputContext;

// The memory table on every call; the first call in the process adds the
// version, processor, language and drive sections.
void printSystemInfo(OutputContext* context);

// Emits the local date and time, formatted with the time format (null: the
// weekday, day, short month, year and time), as a message that keeps the
// protocol file open. Unless the format is empty or ends in a newline, the
// next message continues the line. Returns the format's length: 0 for an
// empty format, and for one that ends in a newline the count a caller may
// rely on.
int printTimeStamp(OutputContext* context, const char* typeLetters, const char* id, const char* format);

}  // namespace trovex
