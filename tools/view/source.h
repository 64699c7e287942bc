// Byte sources that block for a short while at most, so that an interrupt
// is seen promptly: a serial port and standard input.
#pragma once

#include <memory>
#include <string>

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

// True when standard output is a terminal (a console on Windows, where
// colour escapes are switched on for it).
bool standardOutputIsTerminal();
