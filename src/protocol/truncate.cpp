// The size cap: once per load, a protocol file that has reached its limit is
// cut back to a recent tail that starts at a form feed, behind a marker line.
#include "common/texts.h"
#include "fileio/fileio.h"
#include "platform/win32.h"
#include "protocol/protocol.h"
#include "time/time.h"

namespace trovex {

namespace {

constexpr uint8_t FormFeed = 12;

// Rewrites the file as the marker line and the tail from `cut` on. Each
// write starts by emptying the file, and a write that fails leaves what it
// wrote before the failure. The cut must never cost the log it was meant to
// shorten, so after a failed cut the whole old text is written back; and
// since a failure in that leaves only the oldest part, the cut is then
// written once more: the file ends with either the whole old text or the
// marker and as much of the tail as fit.
void rewriteFile(const char* name, const uint8_t* text, uint32_t size, uint32_t cut) {
  char date[TimeTextSize];
  formatLocalTimeNow(date, sizeof date, DefaultTimeFormat);
  enum class Outcome { Untouched, Short, Whole };
  // Writes the file afresh: the marker and the tail, or the old text whole.
  const auto write = [&](bool marked) {
    const uint32_t from = marked ? cut : 0;
    Stream* stream = openStream(name, "w");
    if (!stream) return Outcome::Untouched;
    if (marked) printStream(stream, CutMarkerFormat, date);
    // A failed flush fails every later write, so the count and the final
    // flush tell of any failure.
    const bool written = size == from || writeStream(text + from, 1, size - from, stream) == size - from;
    return closeStream(stream) == 0 && written ? Outcome::Whole : Outcome::Short;
  };
  if (write(true) != Outcome::Short) return;
  // A restore that could not open the file left the cut's marker and tail.
  if (write(false) == Outcome::Short) write(true);
}

}  // namespace

uint32_t findCutPoint(const uint8_t* text, uint32_t size, uint32_t keepSize) {
  if (size == 0) return 0;
  // The scan looks at the bytes up to one past size - keepSize (taken modulo
  // 2^32, so a keepSize beyond size means all of them); the cut is the last
  // form feed among them.
  const uint32_t last = size - keepSize;
  uint32_t end = size - 1;
  if (last < size - 1) end = last + 1;
  for (uint32_t i = end + 1; i-- > 0;)
    if (text[i] == FormFeed) return i;
  return 0;
}

void truncateProtocolFile(ProtocolFile* file, const char* name) {
  uint64_t fileBytes = 0;
  if (!fileSize(name, &fileBytes) || fileBytes < file->sizeLimit) return;
  // The file is held whole in one buffer and scanned with 32-bit offsets: a
  // larger file is left as it is rather than cut at a wrong place.
  if (fileBytes > UINT32_MAX) return;
  const uint32_t size = static_cast<uint32_t>(fileBytes);
  Stream* stream = openStream(name, "r");
  if (!stream) return;
  HANDLE heap = GetProcessHeap();
  uint8_t* text = static_cast<uint8_t*>(HeapAlloc(heap, 0, size));
  if (!text) {
    closeStream(stream);
    return;
  }
  const uint32_t read = readStream(text, 1, size, stream);
  closeStream(stream);
  // Only a file read to its last byte is rewritten: after a short read the
  // tail in memory is not the file's, and rewriting would lose the rest.
  if (read == size) {
    const uint32_t cut = findCutPoint(text, size, file->keepSize);
    const uint32_t bound = static_cast<uint32_t>(file->keepSize + file->sizeLimit) / 2;
    if (size - cut < bound) rewriteFile(name, text, size, cut);
  }
  HeapFree(heap, 0, text);
}

}  // namespace trovex
