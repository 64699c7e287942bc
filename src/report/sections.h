// The pieces of the system report: records gathered from the platform, and
// functions that turn records into text. Every piece goes to a ReportSink as
// one message of its own, so the report can be rendered from any records.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/win32.h"
#include "report/pool.h"

namespace trovex {

// Where the pieces go: the output context, or a test's collector.
struct ReportSink {
  // One piece: a format and its arguments; keepOpen as for emitMessage.
  void (*emit)(void* state, bool keepOpen, const char* format, va_list* args);
  void* state;
};

// One piece, leaving the protocol file open (or closing it after the text).
void reportPrint(const ReportSink* sink, const char* format, ...);
void reportPrintAndClose(const ReportSink* sink, const char* format, ...);

// True when a text field's terminator lies inside it: what every renderer
// relies on before it prints the field.
template <size_t Size>
bool terminatedInside(const char (&field)[Size]) {
  return std::memchr(field, '\0', Size) != nullptr;
}

// ---- memory

struct MemoryRow {
  uint64_t total;      // bytes
  uint64_t available;  // bytes
};

struct MemoryFigures {
  MemoryRow physical;
  MemoryRow pageFile;
  MemoryRow virtualSpace;  // of the process
};

// The extended status if the platform has it, else the 32-bit one, widened.
void gatherMemory(MemoryFigures* figures);
// Used bytes per hundredth of the total, where a total of 100 or less counts
// as 100; the low 32 bits.
int32_t usedPercentage(const MemoryRow& row);
void printMemoryTable(const ReportSink* sink, const MemoryFigures& figures);

// ---- version, processor, language

// The version record, zeroed before the platform fills it, its service-pack
// text always terminated.
void gatherVersion(OSVERSIONINFOA* version);
void printVersionLines(const ReportSink* sink, const OSVERSIONINFOA& version);

enum CpuFeature : uint32_t { FeatureMmx = 1, FeatureSse = 2, FeatureSse2 = 4, Feature3dNow = 8, FeaturePae = 16 };

// The processor features, probed once per FeatureProbe and published only
// when complete.
struct FeatureProbe {
  std::atomic<uint32_t> state;  // 0 not probed, 1 probing, 2 mask ready
  uint32_t mask;                // CpuFeature bits; valid once state is 2
};
uint32_t probeCpuFeatures(FeatureProbe* probe);
// The process-wide probe.
uint32_t probeCpuFeatures();

void gatherSystemInfo(SYSTEM_INFO* info);
void printProcessorLines(const ReportSink* sink, const SYSTEM_INFO& info, uint32_t features);

void printLanguageLine(const ReportSink* sink, LANGID language);

// ---- drives

enum DriveTypeBit : uint32_t { DriveRemovable = 1, DriveFixed = 2, DriveNetwork = 4, DriveCdRom = 8, DriveRamdisk = 16 };
constexpr uint32_t AllDriveTypes = 31;

// Field sizes of the drive records; the platform fills them, so they are fixed.
constexpr unsigned RootNameSize = 4;
constexpr unsigned VolumeLabelSize = 256;
constexpr unsigned DeviceNameSize = 256;
constexpr unsigned FileSystemSize = 64;

struct DriveEntry {
  DriveEntry* next;
  DriveEntry* previous;
  char rootName[RootNameSize];        // "C:\"
  char volumeLabel[VolumeLabelSize];
  char deviceName[DeviceNameSize];    // target of the drive's DOS device name
  char fileSystem[FileSystemSize];
  uint32_t maxComponentLength;        // longest name component of the volume
  uint32_t typeBits;                  // one DriveTypeBit
  uint64_t freeBytes;
  uint64_t totalBytes;
};

// A caller's copy of an entry, for printing.
struct DriveInfo {
  char rootName[RootNameSize];
  char volumeLabel[VolumeLabelSize];
  char deviceName[DeviceNameSize];
  char fileSystem[FileSystemSize];
  uint32_t typeBits;
  uint64_t freeBytes;
  uint64_t totalBytes;
};

// The drives in the platform's order, all in one pool.
struct DriveList {
  MemoryPool* pool;
  DriveEntry* first;
  DriveEntry* last;
};

// An empty list, or null when memory runs out.
DriveList* createDriveList();
// A new entry at the tail of the list, zeroed but for its type bit and its
// root (at most 3 characters of it); null when memory runs out.
DriveEntry* appendDrive(DriveList* list, const char* root, uint32_t typeBit);
// Appends an entry for every drive whose type bit is in typeMask; a drive
// for which there is no memory is left out. Returns 1.
int scanDrives(DriveList* list, uint32_t typeMask);
// The entry after previous (the first when previous is null), or null. With
// info, the entry is filled into it; an entry that cannot be queried is
// skipped.
DriveEntry* nextDrive(DriveList* list, DriveEntry* previous, DriveInfo* info, bool quick);
// Unless quick, asks the volume for sizes and names and keeps them in the
// entry; then copies the entry into info. 0 (info untouched) when the volume
// cannot be queried.
int queryDrive(DriveList* list, DriveEntry* entry, DriveInfo* info, bool quick);
void deleteDriveList(DriveList* list);

// Every drive of every kind, in the platform's order; the volumes of fixed,
// network and RAM drives asked for their sizes and names. Removable and
// CD-ROM drives are never asked: that could spin up a drive or wait for a
// disc. Null when there is no memory for the list.
DriveList* gatherDrives();
void printDriveLine(const ReportSink* sink, const DriveInfo& drive);
// The drive section: heading and a line per drive; nothing for a null list.
void printDrives(const ReportSink* sink, const DriveList* list);

// ---- the details of the first report

// What the first report of the process prints after the memory table.
struct SystemDetails {
  OSVERSIONINFOA version;
  SYSTEM_INFO system;
  uint32_t features;   // CpuFeature bits
  LANGID language;     // the user's default language
  DriveList* drives;   // null when there was no memory for the list
};

// Gathers every record of the details; a null probe is the process-wide
// one. The drive list stays until releaseDetails.
void gatherDetails(SystemDetails* details, FeatureProbe* probe);
// Version, processor, language and drive sections, in this order.
void printDetails(const ReportSink* sink, const SystemDetails& details);
void releaseDetails(SystemDetails* details);

// ---- the whole report

// The memory table; then, if detailsShown was not yet set (it is set here,
// atomically), version, processor, language and drives. A null probe is
// the process-wide one.
void printSystemReport(const ReportSink* sink, std::atomic_flag* detailsShown, FeatureProbe* probe);

}  // namespace trovex
