// Texts that several programs must agree on: the library writes them, the
// viewer reads them back, the POSIX emulation seeds the registry with the
// channel's key. Each stands here once.
#pragma once

namespace trovex {

// Category labels by level: none, 'i', 'w', 'e'.
constexpr unsigned CategoryLevels = 4;
constexpr const char* CategoryLabels[CategoryLevels] = {"", "init", "warn", "error"};
constexpr unsigned ErrorLevel = 3;

// The header in front of a message, label then identifier; the second form
// starts a new line when the previous message's format did not end one.
constexpr char HeaderAtLineStart[] = "%s<%s>: ";
constexpr char HeaderAfterOpenLine[] = "\n%s<%s>: ";
constexpr char HeaderIdOpen = '<';
constexpr char HeaderIdClose[] = ">: ";

// The debugger gets a message's text in calls of at most this many bytes:
// under the 4,096-byte buffer that the system hands to a monitor, which
// also holds the process id and the terminating zero. Fixed, not tunable.
// A call of fewer bytes that ends no line is a line of its own to a listener;
// a full one goes on in the next call.
constexpr unsigned DebuggerPieceSize = 4000;

// The line a cut of the protocol file starts with, around the time of the cut
// in the stamp's default format.
constexpr char CutMarkerFormat[] = "--- Trunced at %s ---\n\n";
constexpr char CutMarkerStart[] = "--- Trunced at ";  // the bytes before the time
constexpr char CutMarkerEnd[] = " ---\n\n";           // the bytes after it

// The line that tells a pipe's reader how many messages the channel could not
// deliver, before the next message the pipe takes whole; the count stands
// between the two parts.
constexpr char LostMessagesNotice[] = "--- %u messages lost: the reader was busy ---\n";
constexpr char LostNoticeStart[] = "--- ";                                   // the bytes before the count
constexpr char LostNoticeEnd[] = " messages lost: the reader was busy ---\n";  // the bytes after it

namespace texts_detail {
constexpr bool same(const char* a, const char* b, unsigned n) { return n == 0 || (*a == *b && same(a + 1, b + 1, n - 1)); }
}  // namespace texts_detail
static_assert(texts_detail::same(CutMarkerFormat, CutMarkerStart, sizeof CutMarkerStart - 1) &&
                  texts_detail::same(CutMarkerFormat + sizeof CutMarkerStart - 1, "%s", 2) &&
                  texts_detail::same(CutMarkerFormat + sizeof CutMarkerStart + 1, CutMarkerEnd, sizeof CutMarkerEnd),
              "the marker's parts make up its format");
static_assert(texts_detail::same(LostMessagesNotice, LostNoticeStart, sizeof LostNoticeStart - 1) &&
                  texts_detail::same(LostMessagesNotice + sizeof LostNoticeStart - 1, "%u", 2) &&
                  texts_detail::same(LostMessagesNotice + sizeof LostNoticeStart + 1, LostNoticeEnd, sizeof LostNoticeEnd),
              "the notice's parts make up its format");

// The time stamp's format when the host gives none, also the cut marker's.
constexpr char DefaultTimeFormat[] = "%A %d-%b-%Y %T";
// Bytes of the stamp's and the marker's time text, NUL included: a longer
// expansion is cut. Fixed, readers of the file rely on it.
constexpr unsigned TimeTextSize = 128;

// The debug channel's configuration: this key under HKEY_CURRENT_USER.
constexpr char ChannelRegistryKey[] = "qz\\kprintf";

// A debug channel path that names a named pipe: this prefix, then the pipe's
// name. trovex-view --listen serves such a pipe; its name when none is given.
constexpr char PipePathPrefix[] = "\\\\.\\pipe\\";
constexpr char DefaultPipeName[] = "trovex";

}  // namespace trovex
