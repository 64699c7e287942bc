// Serial-port settings over termios. A Windows serial line is always raw,
// so SetCommState puts the terminal into raw mode along with the settings.
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>

#include "platform/posix/handles.h"

namespace trovex::win32 {

namespace {

struct BaudSetting {
  DWORD rate;
  speed_t speed;
};
constexpr BaudSetting BaudSettings[] = {
    {110, B110},     {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},   {9600, B9600},   {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

constexpr tcflag_t ByteSizes[] = {CS5, CS6, CS7, CS8};  // by ByteSize - 5

// The terminal behind a handle and its settings, or null with the last error set.
HandleObject* terminalOf(HANDLE handle, struct termios* settings) {
  HandleObject* object = handleObject(handle, HandleKind::File);
  if (!object) return nullptr;
  if (tcgetattr(object->fd, settings) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);  // what Windows says for a handle that is no port
    return nullptr;
  }
  return object;
}

// Sets or clears a modem line; devices without modem lines keep theirs.
void setModemLine(int fd, int line, bool on) {
  ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

BOOL WINAPI GetCommState(HANDLE handle, LPDCB dcb) {
  if (simShouldFail("GetCommState")) return FALSE;
  struct termios settings;
  HandleObject* object = terminalOf(handle, &settings);
  if (!object || !dcb) {
    if (object) SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *dcb = DCB{};
  dcb->DCBlength = sizeof(DCB);
  const speed_t speed = cfgetospeed(&settings);
  for (const BaudSetting& setting : BaudSettings)
    if (setting.speed == speed) dcb->BaudRate = setting.rate;
  dcb->fBinary = 1;
  dcb->fParity = (settings.c_iflag & INPCK) ? 1 : 0;
  dcb->fOutxCtsFlow = (settings.c_cflag & CRTSCTS) ? 1 : 0;
  dcb->fOutX = (settings.c_iflag & IXON) ? 1 : 0;
  dcb->fInX = (settings.c_iflag & IXOFF) ? 1 : 0;
  int lines = 0;
  const bool hasModemLines = ioctl(object->fd, TIOCMGET, &lines) == 0;
  dcb->fDtrControl = dcb->fOutxCtsFlow ? DTR_CONTROL_ENABLE
                     : (!hasModemLines || (lines & TIOCM_DTR)) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb->fRtsControl = dcb->fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE
                     : (!hasModemLines || (lines & TIOCM_RTS)) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  switch (settings.c_cflag & CSIZE) {
    case CS5: dcb->ByteSize = 5; break;
    case CS6: dcb->ByteSize = 6; break;
    case CS7: dcb->ByteSize = 7; break;
    default: dcb->ByteSize = 8; break;
  }
  dcb->Parity = !(settings.c_cflag & PARENB) ? NOPARITY : (settings.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb->StopBits = (settings.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb->XonChar = static_cast<char>(settings.c_cc[VSTART]);
  dcb->XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
  dcb->EofChar = static_cast<char>(settings.c_cc[VEOF]);
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE handle, LPDCB dcb) {
  if (simShouldFail("SetCommState")) return FALSE;
  struct termios settings;
  HandleObject* object = terminalOf(handle, &settings);
  if (!object) return FALSE;
  const BaudSetting* baud = nullptr;
  for (const BaudSetting& setting : BaudSettings)
    if (dcb && setting.rate == dcb->BaudRate) baud = &setting;
  if (!dcb || !baud || dcb->ByteSize < 5 || dcb->ByteSize > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  cfmakeraw(&settings);
  cfsetispeed(&settings, baud->speed);
  cfsetospeed(&settings, baud->speed);
  settings.c_cflag = (settings.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)) |
                     ByteSizes[dcb->ByteSize - 5] | CREAD | CLOCAL;
  if (dcb->Parity == ODDPARITY) settings.c_cflag |= PARENB | PARODD;
  if (dcb->Parity == EVENPARITY) settings.c_cflag |= PARENB;
  if (dcb->StopBits == TWOSTOPBITS) settings.c_cflag |= CSTOPB;
  if (dcb->fOutxCtsFlow) settings.c_cflag |= CRTSCTS;
  settings.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
  if (dcb->fParity) settings.c_iflag |= INPCK;
  if (dcb->fOutX) settings.c_iflag |= IXON;
  if (dcb->fInX) settings.c_iflag |= IXOFF;
  settings.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
  settings.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);
  if (tcsetattr(object->fd, TCSANOW, &settings) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return FALSE;
  }
  if (dcb->fDtrControl != DTR_CONTROL_HANDSHAKE) setModemLine(object->fd, TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE);
  if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE) setModemLine(object->fd, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE);
  return TRUE;
}

}  // namespace trovex::win32
