// System information: memory status, version, processor, user language, the
// loader's look-up of optional functions, and the logical drives. Records have
// the layouts of the 32-bit Windows ABI where the library relies on their sizes.
#pragma once

#include <cstdint>

#include "platform/posix/win32_types.h"

namespace trovex::win32 {

typedef uint64_t DWORDLONG;
typedef uintptr_t DWORD_PTR;
typedef WORD LANGID;
typedef intptr_t(WINAPI* FARPROC)();

// GlobalMemoryStatus: amounts in 32 bits, capped at 4 GiB - 1 as on a 32-bit system.
struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORD dwTotalPhys;
  DWORD dwAvailPhys;
  DWORD dwTotalPageFile;
  DWORD dwAvailPageFile;
  DWORD dwTotalVirtual;
  DWORD dwAvailVirtual;
};
typedef MEMORYSTATUS* LPMEMORYSTATUS;
static_assert(sizeof(MEMORYSTATUS) == 32, "layout of the 32-bit ABI");

struct MEMORYSTATUSEX {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORDLONG ullTotalPhys;
  DWORDLONG ullAvailPhys;
  DWORDLONG ullTotalPageFile;
  DWORDLONG ullAvailPageFile;
  DWORDLONG ullTotalVirtual;
  DWORDLONG ullAvailVirtual;
  DWORDLONG ullAvailExtendedVirtual;
};
typedef MEMORYSTATUSEX* LPMEMORYSTATUSEX;
static_assert(sizeof(MEMORYSTATUSEX) == 64, "layout of the Windows ABI");

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
// The emulation's own platform id: neither of the Windows families.
#define VER_PLATFORM_POSIX 16

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;
static_assert(sizeof(OSVERSIONINFOA) == 148, "layout of the Windows ABI");

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_MIPS 1
#define PROCESSOR_ARCHITECTURE_ALPHA 2
#define PROCESSOR_ARCHITECTURE_PPC 3
#define PROCESSOR_ARCHITECTURE_ARM 5
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF

struct SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
typedef SYSTEM_INFO* LPSYSTEM_INFO;

#define PF_MMX_INSTRUCTIONS_AVAILABLE 3
#define PF_XMMI_INSTRUCTIONS_AVAILABLE 6
#define PF_3DNOW_INSTRUCTIONS_AVAILABLE 7
#define PF_PAE_ENABLED 9
#define PF_XMMI64_INSTRUCTIONS_AVAILABLE 10

#define ERROR_NOT_READY 21L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L

// Physical memory and swap from the kernel's figures; the paging file is the
// commit limit (memory and swap together), as on Windows; the virtual space
// is the process's address-space limit and what it has not mapped yet.
void WINAPI GlobalMemoryStatus(LPMEMORYSTATUS status);
// Fails (ERROR_INVALID_PARAMETER) unless dwLength is the record's size.
BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX status);
// The kernel's release as major, minor and build (its third number), the
// platform id VER_PLATFORM_POSIX, and the system's name and build text as
// the service-pack text. Fails (ERROR_INSUFFICIENT_BUFFER) unless the size
// field is the record's size.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA version);
// Architecture from the machine name; on x86 level and revision from the
// processor's family, model and stepping, as Windows reports them.
void WINAPI GetSystemInfo(LPSYSTEM_INFO info);
// MMX, SSE, SSE2, 3DNow! and PAE as the processor reports them; false elsewhere.
BOOL WINAPI IsProcessorFeaturePresent(DWORD feature);
// The language of the user's locale (LC_ALL, LC_MESSAGES, LANG) as a
// Windows language identifier; "C" and "POSIX" are English (US).
LANGID WINAPI GetUserDefaultLangID();

// "kernel32.dll" (any case, extension optional) is the one module known.
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
// The optional functions that the library looks up by name.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

// The mounted file systems as drives "C:\" to "Z:\", in the order of the
// mount table; pseudo file systems and the system's own tmpfs mounts are left
// out. The type follows from the file system: network file systems are
// remote, tmpfs and ramfs RAM disks, ISO 9660 and UDF CD-ROMs, FAT and exFAT
// under /media removable, the rest fixed.
DWORD WINAPI GetLogicalDriveStringsA(DWORD size, LPSTR buffer);
UINT WINAPI GetDriveTypeA(LPCSTR root);
// Sectors of 512 bytes; cluster counts are capped at 32 bits.
BOOL WINAPI GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                              LPDWORD freeClusters, LPDWORD totalClusters);
// The label is the mount point, the file system its type; no serial number.
BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serialNumber,
                                  LPDWORD maxComponentLength, LPDWORD flags, LPSTR fileSystem,
                                  DWORD fileSystemSize);
// "C:" names the mounted device (its source in the mount table).
DWORD WINAPI QueryDosDeviceA(LPCSTR deviceName, LPSTR target, DWORD size);

}  // namespace trovex::win32
