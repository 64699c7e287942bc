// Serial-port settings, emulated with termios on a terminal device.
#pragma once

#include "platform/posix/win32_types.h"

namespace trovex::win32 {

#define CBR_9600 9600
#define CBR_19200 19200
#define CBR_38400 38400
#define CBR_115200 115200

#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define ONESTOPBIT 0
#define TWOSTOPBITS 2

// The device-control block, laid out as Windows lays it out.
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
typedef DCB* LPDCB;
static_assert(sizeof(DCB) == 28, "DCB has the Windows layout");

// Both fail with ERROR_INVALID_HANDLE on a handle that is not a terminal.
// The line is always raw (Windows has no other mode); DSR flow control, the
// error and null characters and the XON/XOFF limits are not emulated.
BOOL WINAPI GetCommState(HANDLE file, LPDCB dcb);
// Fails with ERROR_INVALID_PARAMETER for a baud rate or byte size termios has
// no setting for. Modem lines that the device has not (a pseudo-terminal)
// are left alone.
BOOL WINAPI SetCommState(HANDLE file, LPDCB dcb);

}  // namespace trovex::win32
