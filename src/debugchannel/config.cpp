// The channel's configuration: the key "qz\kprintf" under HKEY_CURRENT_USER
// with the DWORD values "use" and "type" and the string value "path".
#include <cstring>

#include "common/texts.h"
#include "debugchannel/device.h"

namespace trovex {

namespace {

const char UseValue[] = "use";
const char PathValue[] = "path";
const char TypeValue[] = "type";

// A DWORD value. One larger than 4 bytes counts as missing; a shorter one
// fills the low bytes of *number.
bool readDword(HKEY key, const char* name, DWORD* number) {
  DWORD size = sizeof *number;
  return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(number), &size) == ERROR_SUCCESS;
}

}  // namespace

void readChannelConfig(DebugChannel* channel) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, ChannelRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD use = 0;
  if (!readDword(key, UseValue, &use)) use = 0;
  if (use != 0) {
    // Zeroed first and read one byte short of the field, so the path ends
    // inside it whatever the registry returns.
    std::memset(channel->pathValue, 0, sizeof channel->pathValue);
    DWORD size = ChannelPathReadSize;
    if (RegQueryValueExA(key, PathValue, nullptr, nullptr, reinterpret_cast<BYTE*>(channel->pathValue), &size) ==
        ERROR_SUCCESS)
      channel->pathSet = true;
    else
      std::memset(channel->pathValue, 0, sizeof channel->pathValue);
    DWORD type = 0;
    if (readDword(key, TypeValue, &type)) channel->channelType = type;
  }
  RegCloseKey(key);
}

}  // namespace trovex
