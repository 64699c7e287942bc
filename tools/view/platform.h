// What the viewer takes from the operating system: byte sources that block
// for a short while at most (so that an interrupt is seen promptly), a
// file's identity, and the reader's terminal and its encoding.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// What happens at a named pipe that the viewer serves: a writer connects
// (its process id and program name, taken then), sends bytes, or goes away.
// `writer` tells the connections apart for as long as the listener runs.
struct PipeEvent {
  enum class Kind { Connected, Data, Gone } kind;
  uint64_t writer;
  uint32_t pid;          // Connected
  std::string program;   // Connected: the image's file name, "?" when it cannot be found
  std::string data;      // Data
};

// The server of the named pipe "\\.\pipe\NAME": on Windows the pipe itself,
// always with a free instance waiting; elsewhere the local socket that the
// emulation's CreateFileA connects to (src/common/pipe.h). Any
// number of writers at once, each read on its own.
class PipeListener {
 public:
  virtual ~PipeListener() = default;
  // Appends what happened, waiting about a tenth of a second at most when
  // nothing has; false, with the reason in `error`, when serving failed.
  virtual bool wait(std::vector<PipeEvent>* events, std::string* error) = 0;
};
// Null, with the reason in `error`, when the pipe cannot be served: a bad
// name, or another listener serving it already.
std::unique_ptr<PipeListener> listenOnPipe(const std::string& name, std::string* error);

// True when standard output is a terminal (a console on Windows, where
// colour escapes are switched on for it).
bool standardOutputIsTerminal();

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
