// Test controls of the emulated system information: replace what the running
// system reports with records of the test's own. Included by sim.h.
#pragma once

#include "platform/win32.h"

namespace trovex::win32 {

namespace sim {

// Each replaces the system's own figures until called with null (or reset).
// GlobalMemoryStatus reports the replacement's amounts capped at 32 bits.
void setMemoryStatus(const MEMORYSTATUSEX* status);
void setVersion(const OSVERSIONINFOA* version);
void setSystemInfo(const SYSTEM_INFO* info);
void setLanguage(const LANGID* language);

// One drive of a replaced drive list.
struct Drive {
  const char* root;        // "C:\"
  UINT type;               // GetDriveTypeA's result
  const char* label;       // the volume label
  const char* fileSystem;  // "NTFS"
  const char* device;      // QueryDosDeviceA's target
  uint64_t freeBytes;      // multiples of 512
  uint64_t totalBytes;     // multiples of 512
  bool unreadable;         // GetDiskFreeSpaceA and GetVolumeInformationA fail with ERROR_NOT_READY
};
// Replaces the mounted file systems by `count` drives (copied); null: the
// mounted file systems again.
void setDrives(const Drive* drives, unsigned count);

// Makes GetProcAddress report the function `name` missing (or present again).
void hideProcedure(const char* name, bool hidden);

// Switches every control of this header off.
void resetSystem();

}  // namespace sim

}  // namespace trovex::win32
