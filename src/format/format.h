// The format engine: runs a printf-like format against an argument list and
// hands every produced character, one at a time, to an output function. It
// takes no lock and allocates nothing; between runs it keeps only the parsed
// forms of the formats it has seen, in a fixed-size cache (format/steps.h).
#pragma once

#include <cstdarg>
#include <cstdint>

namespace trovex {

struct FormatSink;
struct ChunkCollector;
using FormatPut = void (*)(FormatSink* sink);
using FormatPutRun = void (*)(FormatSink* sink, const char* text, unsigned count);

// Switches of FormatSink::flags, cleared at the start of every directive.
enum FormatFlag : uint8_t {
  LeftAlign = 0x01,  // "-"
  ZeroFill = 0x02,   // "0"
  Alternate = 0x04,  // "#"
  Int64Arg = 0x08,   // "L"
  WideChars = 0x10,  // "w"
};

constexpr uint16_t NoPrecision = 0xFFFF;

// One run of the engine. The creator sets format, args (va_copy), put and,
// where its output function needs it, state and putRun; every other field
// starts zeroed.
struct FormatSink {
  const char* format;     // position in the format; at its NUL after a run
  va_list args;           // arguments, taken strictly in order
  uint16_t width;         // field width of the current directive; 0 = none
  uint16_t precision;     // precision of the current directive; NoPrecision = none
  char ch;                // the character put is to emit
  uint8_t flags;          // FormatFlag bits of the current directive
  FormatPut put;          // emits ch; called once per produced character
  FormatPutRun putRun;    // optional: emits a run of plain characters at once; null: put each
  ChunkCollector* window; // optional: the engine stores characters straight into this
                          // collector's array while it has room; put and putRun take the rest
  char* cursor;           // the window's next free place, its fill kept by the engine
  char* windowEnd;        // the end of the window's array; cursor == windowEnd: no room (or no window)
  void* state;            // the output function's own; the engine never touches it
  bool verbatim;          // no argument list: the format is copied as plain text
  bool zeroArgs;          // the host passed a null list: every argument taken is 0 or a null pointer
};

// The argument list of a host that passed none: never read, only compared.
// A run given it takes 0 or a null pointer for every argument.
extern va_list* const ZeroArgs;

// Runs the whole format at sink->format, emitting through sink->put.
void formatToSink(FormatSink* sink);

// Starts a run: clears the sink, sets its format, output function and state,
// and copies *args into it. With a null args there is no argument list and
// the format is copied as plain text; with ZeroArgs every argument is zero.
// A null format is empty text.
void beginFormatRun(FormatSink* sink, const char* format, va_list* args, FormatPut put, void* state);

// Ends a run that beginFormatRun started (releases the argument copy).
void endFormatRun(FormatSink* sink);

// An output function that collects characters in its owner's array and
// passes them on in full pieces. A full piece goes out only when one more
// character arrives, so after the run the owner finishes the last piece of
// 1 to `size` characters (or none) itself.
struct ChunkCollector {
  char* text;                               // the owner's array of `size` characters
  uint16_t size;                            // characters per full piece
  uint16_t fill;                            // characters held in text
  void (*passOn)(ChunkCollector* chunks);   // takes the `size` characters held
  void* owner;                              // the record passOn delivers for
};

// Starts a run (as beginFormatRun) whose characters, plain runs included,
// go to the collector. The collector is also the run's window: characters
// that fit go straight into its array, and only a character that meets a
// full array goes through the output function, which passes the piece on.
void beginChunkedRun(FormatSink* sink, const char* format, va_list* args, ChunkCollector* chunks);

// Where text goes out in pieces: count is 1 to the piece size.
using PiecePut = void (*)(void* owner, const char* text, unsigned count);

// Runs the format over args (as beginFormatRun takes them) and hands what it
// produces to put in pieces of `size` characters, collected in the caller's
// array of that size; the last piece holds the rest. A full piece goes out
// only when more follows, so text of exactly `size` characters is one piece.
void formatInPieces(const char* format, va_list* args, char* pieceArray, uint16_t size, PiecePut put, void* owner);

// Text already produced, in the pieces formatInPieces would hand out.
void handOutInPieces(const char* text, unsigned count, uint16_t size, PiecePut put, void* owner);

}  // namespace trovex
