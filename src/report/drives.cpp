// The drive list: built from the platform's logical drives in one memory
// pool, walked and printed a line per drive.
#include <algorithm>
#include <cstring>

#include "common/contract.h"
#include "report/sections.h"

namespace trovex {

namespace {

constexpr uint32_t DrivePuddleSize = 1024;
// Fixed by the platform's interface: room for the root strings of all drives.
constexpr DWORD RootListSize = 1999;

const char DrivesHeading[] = "\n-Drives--------------------\n";
const char DriveLineFormat[] = " %s [%.100S] Label=%#.100s FS=%s ";
const char DriveSizesFormat[] = " Free=%LD bytes Disk=%LD\n";

// The type words in the order they are printed.
const struct {
  uint32_t bit;
  const char* word;
} TypeWords[] = {{DriveCdRom, "CDRom "}, {DriveNetwork, "Network "}, {DriveFixed, "Fixed "},
                 {DriveRamdisk, "Ramdisk "}, {DriveRemovable, "removable "}};

uint32_t typeBit(UINT driveType) {
  switch (driveType) {
    case DRIVE_REMOVABLE: return DriveRemovable;
    case DRIVE_FIXED: return DriveFixed;
    case DRIVE_REMOTE: return DriveNetwork;
    case DRIVE_CDROM: return DriveCdRom;
    case DRIVE_RAMDISK: return DriveRamdisk;
    default: return 0;
  }
}

template <size_t Size>
void terminate(char (&field)[Size]) {
  field[Size - 1] = '\0';
}

// Asks the volume for its sizes and names. Every text field is cleared before
// the platform fills it and ends inside its field whatever the call did.
bool queryVolume(DriveEntry* entry) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!GetDiskFreeSpaceA(entry->rootName, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
    return false;
  const uint32_t bytesPerCluster = sectorsPerCluster * bytesPerSector;
  entry->freeBytes = static_cast<uint64_t>(freeClusters) * bytesPerCluster;
  entry->totalBytes = static_cast<uint64_t>(totalClusters) * bytesPerCluster;

  std::memset(entry->volumeLabel, 0, sizeof entry->volumeLabel);
  std::memset(entry->fileSystem, 0, sizeof entry->fileSystem);
  DWORD serialNumber = 0, maxComponentLength = 0, flags = 0;
  if (GetVolumeInformationA(entry->rootName, entry->volumeLabel, sizeof entry->volumeLabel - 1, &serialNumber,
                            &maxComponentLength, &flags, entry->fileSystem, sizeof entry->fileSystem - 1)) {
    entry->maxComponentLength = maxComponentLength;
  } else {
    // A failed call leaves its buffers undefined.
    entry->volumeLabel[0] = entry->fileSystem[0] = '\0';
  }
  terminate(entry->volumeLabel);
  terminate(entry->fileSystem);

  const char deviceName[3] = {entry->rootName[0], entry->rootName[1], '\0'};
  std::memset(entry->deviceName, 0, sizeof entry->deviceName);
  if (!QueryDosDeviceA(deviceName, entry->deviceName, sizeof entry->deviceName - 1)) entry->deviceName[0] = '\0';
  terminate(entry->deviceName);
  return true;
}

// The copy step of a query, and the whole of a quick one.
void copyDrive(const DriveEntry& entry, DriveInfo* info) {
  std::memcpy(info->rootName, entry.rootName, sizeof info->rootName);
  std::memcpy(info->volumeLabel, entry.volumeLabel, sizeof info->volumeLabel);
  std::memcpy(info->deviceName, entry.deviceName, sizeof info->deviceName);
  std::memcpy(info->fileSystem, entry.fileSystem, sizeof info->fileSystem);
  info->typeBits = entry.typeBits;
  info->freeBytes = entry.freeBytes;
  info->totalBytes = entry.totalBytes;
}

}  // namespace

DriveList* createDriveList() {
  MemoryPool* pool = createPool(DrivePuddleSize);
  if (!pool) return nullptr;
  DriveList* list = static_cast<DriveList*>(poolAlloc(pool, sizeof(DriveList), true));
  if (!list) {
    deletePool(pool);
    return nullptr;
  }
  list->pool = pool;
  return list;
}

int scanDrives(DriveList* list, uint32_t typeMask) {
  // One byte beyond what the platform may fill, so the walk always ends.
  char roots[RootListSize + 1];
  std::memset(roots, 0, sizeof roots);
  const DWORD length = GetLogicalDriveStringsA(RootListSize, roots);
  if (length == 0 || length >= RootListSize) return 1;  // none, or a list that did not fit
  for (const char* root = roots; *root; root += std::strlen(root) + 1) {
    const uint32_t bit = typeBit(GetDriveTypeA(root));
    if (bit & typeMask) appendDrive(list, root, bit);
  }
  return 1;
}

DriveEntry* appendDrive(DriveList* list, const char* root, uint32_t typeBit) {
  DriveEntry* entry = static_cast<DriveEntry*>(poolAlloc(list->pool, sizeof(DriveEntry), true));
  if (!entry) return nullptr;
  // At most "C:\", the entry being zeroed keeps the NUL.
  std::memcpy(entry->rootName, root, std::min<size_t>(std::strlen(root), RootNameSize - 1));
  entry->typeBits = typeBit;
  entry->previous = list->last;
  if (list->last) list->last->next = entry;
  else list->first = entry;
  list->last = entry;
  return entry;
}

DriveEntry* nextDrive(DriveList* list, DriveEntry* previous, DriveInfo* info, bool quick) {
  for (DriveEntry* entry = previous ? previous->next : list->first; entry; entry = entry->next)
    if (!info || queryDrive(list, entry, info, quick)) return entry;
  return nullptr;
}

int queryDrive(DriveList*, DriveEntry* entry, DriveInfo* info, bool quick) {
  if (!quick && !queryVolume(entry)) return 0;
  copyDrive(*entry, info);
  return 1;
}

void deleteDriveList(DriveList* list) {
  if (list) deletePool(list->pool);  // the list itself lives in the pool
}

DriveList* gatherDrives() {
  DriveList* list = createDriveList();
  if (!list) return nullptr;
  scanDrives(list, AllDriveTypes);
  // A volume that cannot be asked keeps its zeroed entry: empty texts, no bytes.
  for (DriveEntry* entry = list->first; entry; entry = entry->next)
    if (!(entry->typeBits & (DriveRemovable | DriveCdRom))) queryVolume(entry);
  return list;
}

void printDriveLine(const ReportSink* sink, const DriveInfo& drive) {
  TROVEX_ASSERT(terminatedInside(drive.rootName) && terminatedInside(drive.deviceName) &&
                terminatedInside(drive.volumeLabel) && terminatedInside(drive.fileSystem));
  reportPrint(sink, DriveLineFormat, drive.rootName, drive.deviceName, drive.volumeLabel, drive.fileSystem);
  for (const auto& type : TypeWords)
    if (drive.typeBits & type.bit) reportPrint(sink, type.word);
  reportPrint(sink, DriveSizesFormat, static_cast<long long>(drive.freeBytes), static_cast<long long>(drive.totalBytes));
}

void printDrives(const ReportSink* sink, const DriveList* list) {
  if (!list) return;
  reportPrint(sink, DrivesHeading);
  DriveInfo info;
  for (const DriveEntry* entry = list->first; entry; entry = entry->next) {
    copyDrive(*entry, &info);
    printDriveLine(sink, info);
  }
}

}  // namespace trovex
