// Logical drives: the mounted file systems given drive letters, or the list
// a test set. The table is built afresh for every call, so it follows mounts
// and unmounts; its order is that of the mount table.
#include <cctype>
#include <cstring>
#include <mntent.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/sim.h"

namespace trovex::win32 {

namespace {

struct DriveRecord {
  std::string root;        // "C:\"
  UINT type;               // DRIVE_*
  std::string mountPoint;  // mounted file systems: where to ask for sizes
  std::string label, fileSystem, device;
  uint64_t freeBytes, totalBytes;  // set drives only
  bool unreadable;                 // set drives only
};

#if defined(TROVEX_SIM)
std::vector<DriveRecord> replacementDrives;  // set by tests
bool drivesReplaced = false;
pthread_mutex_t drivesLock = PTHREAD_MUTEX_INITIALIZER;
#endif

constexpr uint64_t SectorSize = 512;

bool isOneOf(const char* text, const char* const* list) {
  for (; *list; ++list)
    if (std::strcmp(text, *list) == 0) return true;
  return false;
}

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// The drive type of a mounted file system, or DRIVE_UNKNOWN for those that
// are not listed as drives.
UINT typeOfMount(const struct mntent& mount) {
  static const char* const remote[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p", "ceph", "glusterfs", nullptr};
  static const char* const ram[] = {"tmpfs", "ramfs", nullptr};
  static const char* const disc[] = {"iso9660", "udf", nullptr};
  static const char* const portable[] = {"vfat", "exfat", "msdos", nullptr};
  static const char* const disk[] = {"ext2", "ext3", "ext4", "xfs", "btrfs", "zfs", "f2fs", "jfs", "reiserfs",
                                     "overlay", "ntfs", "ntfs3", "fuseblk", "hfsplus", "vfat", "exfat", "msdos", nullptr};
  const char* type = mount.mnt_type;
  const char* dir = mount.mnt_dir;
  if (isOneOf(type, remote)) return DRIVE_REMOTE;
  if (isOneOf(type, disc)) return DRIVE_CDROM;
  if (isOneOf(type, portable) && (startsWith(dir, "/media/") || startsWith(dir, "/run/media/"))) return DRIVE_REMOVABLE;
  if (isOneOf(type, ram)) {
    const bool systems = startsWith(dir, "/dev") || startsWith(dir, "/proc") || startsWith(dir, "/sys") || startsWith(dir, "/run");
    return systems ? DRIVE_UNKNOWN : DRIVE_RAMDISK;
  }
  if (isOneOf(type, disk)) return DRIVE_FIXED;
  return DRIVE_UNKNOWN;
}

std::vector<DriveRecord> mountedDrives() {
  std::vector<DriveRecord> drives;
  FILE* table = setmntent("/proc/self/mounts", "r");
  if (!table) return drives;
  char letter = 'C';
  struct mntent entry {};
  char strings[4096];
  while (letter <= 'Z' && getmntent_r(table, &entry, strings, sizeof strings)) {
    const UINT type = typeOfMount(entry);
    struct stat status {};
    if (type == DRIVE_UNKNOWN || stat(entry.mnt_dir, &status) != 0 || !S_ISDIR(status.st_mode)) continue;
    bool seen = false;
    for (const DriveRecord& drive : drives) seen = seen || drive.mountPoint == entry.mnt_dir;
    if (seen) continue;
    const char root[4] = {letter++, ':', '\\', '\0'};
    drives.push_back(DriveRecord{root, type, entry.mnt_dir, entry.mnt_dir, entry.mnt_type, entry.mnt_fsname, 0, 0, false});
  }
  endmntent(table);
  return drives;
}

std::vector<DriveRecord> currentDrives() {
#if defined(TROVEX_SIM)
  pthread_mutex_lock(&drivesLock);
  const bool replaced = drivesReplaced;
  std::vector<DriveRecord> drives = replacementDrives;
  pthread_mutex_unlock(&drivesLock);
  if (replaced) return drives;
#endif
  return mountedDrives();
}

// The drive whose root starts with the letter and colon of `name`.
bool findDrive(LPCSTR name, DriveRecord* found) {
  if (!name || !name[0] || name[1] != ':') return false;
  for (DriveRecord& drive : currentDrives()) {
    if (drive.root.size() >= 2 && std::toupper(static_cast<unsigned char>(drive.root[0])) ==
                                      std::toupper(static_cast<unsigned char>(name[0]))) {
      *found = drive;
      return true;
    }
  }
  return false;
}

// Copies text with its NUL into a buffer of `size`; false when it does not fit.
bool copyText(const std::string& text, LPSTR buffer, DWORD size) {
  if (!buffer) return true;
  if (text.size() + 1 > size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

DWORD clusters(uint64_t bytes) {
  const uint64_t count = bytes / SectorSize;
  return count > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(count);
}

}  // namespace

DWORD WINAPI GetLogicalDriveStringsA(DWORD size, LPSTR buffer) {
  if (simShouldFail("GetLogicalDriveStringsA")) return 0;
  std::string roots;
  for (const DriveRecord& drive : currentDrives()) roots.append(drive.root).push_back('\0');
  if (roots.size() + 1 > size) return static_cast<DWORD>(roots.size() + 1);
  std::memcpy(buffer, roots.data(), roots.size());
  buffer[roots.size()] = '\0';
  return static_cast<DWORD>(roots.size());
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
  DriveRecord drive;
  return findDrive(root, &drive) ? drive.type : DRIVE_NO_ROOT_DIR;
}

BOOL WINAPI GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                              LPDWORD totalClusters) {
  if (simShouldFail("GetDiskFreeSpaceA")) return FALSE;
  DriveRecord drive;
  if (!findDrive(root, &drive)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  uint64_t freeBytes = drive.freeBytes, totalBytes = drive.totalBytes;
  if (!drive.mountPoint.empty()) {
    struct statvfs status {};
    if (statvfs(drive.mountPoint.c_str(), &status) != 0) drive.unreadable = true;
    freeBytes = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
    totalBytes = static_cast<uint64_t>(status.f_blocks) * status.f_frsize;
  }
  if (drive.unreadable) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  *sectorsPerCluster = 1;
  *bytesPerSector = SectorSize;
  *freeClusters = clusters(freeBytes);
  *totalClusters = clusters(totalBytes);
  return TRUE;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serialNumber,
                                  LPDWORD maxComponentLength, LPDWORD flags, LPSTR fileSystem, DWORD fileSystemSize) {
  if (simShouldFail("GetVolumeInformationA")) return FALSE;
  DriveRecord drive;
  if (!findDrive(root, &drive)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  DWORD longestName = 255;
  if (!drive.mountPoint.empty()) {
    struct statvfs status {};
    if (statvfs(drive.mountPoint.c_str(), &status) != 0) drive.unreadable = true;
    longestName = static_cast<DWORD>(status.f_namemax);
  }
  if (drive.unreadable) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  if (!copyText(drive.label, label, labelSize) || !copyText(drive.fileSystem, fileSystem, fileSystemSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (serialNumber) *serialNumber = 0;
  if (maxComponentLength) *maxComponentLength = longestName;
  if (flags) *flags = 0;
  return TRUE;
}

DWORD WINAPI QueryDosDeviceA(LPCSTR deviceName, LPSTR target, DWORD size) {
  if (simShouldFail("QueryDosDeviceA")) return 0;
  DriveRecord drive;
  if (!deviceName || std::strlen(deviceName) != 2 || !findDrive(deviceName, &drive)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  // The target list ends with a second NUL.
  if (drive.device.size() + 2 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(target, drive.device.c_str(), drive.device.size() + 1);
  target[drive.device.size() + 1] = '\0';
  return static_cast<DWORD>(drive.device.size() + 2);
}

#if defined(TROVEX_SIM)
namespace sim {

void setDrives(const Drive* drives, unsigned count) {
  std::vector<DriveRecord> records;
  for (unsigned i = 0; drives && i < count; ++i) {
    const Drive& drive = drives[i];
    records.push_back(DriveRecord{drive.root, drive.type, "", drive.label ? drive.label : "",
                                  drive.fileSystem ? drive.fileSystem : "", drive.device ? drive.device : "",
                                  drive.freeBytes, drive.totalBytes, drive.unreadable});
  }
  pthread_mutex_lock(&drivesLock);
  replacementDrives.swap(records);
  drivesReplaced = drives != nullptr;
  pthread_mutex_unlock(&drivesLock);
}

}  // namespace sim
#endif

}  // namespace trovex::win32
