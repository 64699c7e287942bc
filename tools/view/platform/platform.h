// What the viewer takes from the operating system: byte sources that block
// for a short while at most (so that an interrupt is seen promptly), a
// file's identity, the reader's terminal and its encoding, standard output
// and the signals that end the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read into buffer (more than 0), 0 when none came within about a
  // tenth of a second, EndOfInput at the end, or ReadFailed (the reason in
  // `error`).
  virtual long read(char* buffer, size_t size, std::string* error) = 0;
  static constexpr long EndOfInput = -1;
  static constexpr long ReadFailed = -2;
};

// Opens a serial port for reading at 19200 baud, 8 data bits, no parity, one
// stop bit, raw: a terminal device with termios, or a COM port ("COM2",
// "COM2:" or "\\.\COM12") on Windows. Null, with the reason in `error`, when
// the device cannot be opened or set up.
std::unique_ptr<ByteSource> openSerialPort(const std::string& device, std::string* error);

// Standard input, read as bytes.
std::unique_ptr<ByteSource> openStandardInput();

// The system's text for the last call that failed (errno, or GetLastError
// on Windows).
std::string lastSystemError();

// Sets up the end signals: SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C,
// Ctrl-Break and the console's close, log-off and shutdown) ask the program
// to end (endRequested), and they also stop a write to standard output that
// waits, within a tenth of a second. SIGPIPE is ignored:
// an output whose reader went away fails its write instead of killing the
// program before it has cleaned up (the listener's socket file).
void catchEndSignals();
bool endRequested();

// With an output file of its own, SIGHUP asks to open it again (after
// logrotate moved it away) instead of ending the program: reopenRequested
// is then true once per SIGHUP. Windows has no such signal: never true.
void catchReopenSignal();
bool reopenRequested();

// Writes all of data to standard output. False when the output has ended:
// its reader went away, the write failed, or an end signal came while it
// waited and it did not finish within a tenth of a second after it.
bool writeStandardOutput(const char* data, size_t size);

// Runs work on a thread of its own, which the end signals never interrupt:
// they reach the program's main thread. Every thread of the viewer starts
// here.
std::thread startWorker(std::function<void()> work);

// The file name of a running process's image, "?" when it cannot be found.
std::string programOf(uint32_t pid);

// True when standard output is a terminal (a console on Windows).
bool standardOutputIsTerminal();

// True when standard output is a console that takes its colours as
// attributes, not as escape sequences: a Windows console (Wine's shows the
// sequences as text, and an old Windows' too); never on POSIX. Then
// setOutputColour chooses the colour of what is written next: foreground
// in ANSI's order 0 to 7, or -1 for the console's own.
bool colourByAttributes();
void setOutputColour(int foreground, bool bright);

// Which file a name leads to: two looks that give different identities saw
// two different files (one deleted or renamed over, another in its place).
// A file system may give a deleted file's number to the next new file, so
// the birth time is part of it where the system records one (POSIX); on
// Windows it is not (an NTFS file created again under a name just freed gets
// the old creation time back, and Wine reports the last change there).
struct FileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;
  int64_t bornNanoseconds = 0;  // 0 where unknown
  bool operator==(const FileIdentity& other) const {
    return device == other.device && index == other.index && bornNanoseconds == other.bornNanoseconds;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};
// False when the file cannot be looked at.
bool fileIdentity(const std::string& path, FileIdentity* identity);

// The encoding of the reader's terminal: the locale's character set (POSIX,
// after setlocale), the console's output code page or else the ANSI code
// page (Windows, as "cp" and its number).
std::string terminalEncoding();

// Converts UTF-8 text into another encoding; a character the encoding lacks
// becomes its nearest or "?".
class Recoder {
 public:
  virtual ~Recoder() = default;
  virtual void fromUtf8(std::string_view text, std::string* out) = 0;
};
// Null when the platform knows no encoding of that name (POSIX: the names of
// iconv; Windows: "cp" and a code page number, or the number alone).
std::unique_ptr<Recoder> openRecoder(const std::string& encoding);
