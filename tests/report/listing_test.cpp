// The drive listing and the whole report over the emulation's records (the
// controls exist in the POSIX build only).
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "collector.h"
#include "platform/posix/sim.h"

namespace trovex {

namespace {

const sim::Drive Drives[] = {
    {"A:\\", DRIVE_REMOVABLE, "FLOPPY", "FAT", "\\Device\\Floppy0", 1024, 2048, false},
    {"C:\\", DRIVE_FIXED, "System", "NTFS", "\\Device\\HarddiskVolume1", 512000, 2560000, false},
    {"D:\\", DRIVE_CDROM, "DISC", "CDFS", "\\Device\\CdRom0", 0, 51200, false},
    {"E:\\", DRIVE_NO_ROOT_DIR, "", "", "", 0, 0, false},
    {"F:\\", DRIVE_REMOTE, "share", "NTFS", "\\Device\\LanmanRedirector", 0, 0, true},  // server unreachable
    {"G:\\", DRIVE_RAMDISK, "RAM", "FAT", "\\Device\\Ram", 512, 1024, false},
    {"H:\\", DRIVE_UNKNOWN, "", "", "", 0, 0, false},
};

const char Heading[] = "\n-Drives--------------------\n";
const char LineA[] = " A:\\ [] Label=\"\" FS= removable  Free=0 bytes Disk=0\n";
const char LineC[] =
    " C:\\ [\\\\Device\\\\HarddiskVolume1] Label=\"System\" FS=NTFS Fixed  Free=512.000 bytes Disk=2.560.000\n";
const char LineD[] = " D:\\ [] Label=\"\" FS= CDRom  Free=0 bytes Disk=0\n";
const char LineF[] = " F:\\ [] Label=\"\" FS= Network  Free=0 bytes Disk=0\n";
const char LineG[] = " G:\\ [\\\\Device\\\\Ram] Label=\"RAM\" FS=FAT Ramdisk  Free=512 bytes Disk=1.024\n";

// The drive section as the report prints it.
void listDrives(const ReportSink* sink) {
  DriveList* list = gatherDrives();
  printDrives(sink, list);
  deleteDriveList(list);
}

class Listing : public testing::Test {
 protected:
  void SetUp() override { sim::setDrives(Drives, sizeof Drives / sizeof *Drives); }
  void TearDown() override { sim::reset(); }
};

TEST_F(Listing, OnlyFixedNetworkAndRamDrivesAreAskedAndOrderIsKept) {
  sim::countCalls("GetDiskFreeSpaceA");
  sim::countCalls("GetVolumeInformationA");
  ReportCollector out;
  listDrives(&out.sink);
  EXPECT_EQ(out.text(), std::string(Heading) + LineA + LineC + LineD + LineF + LineG);
  EXPECT_EQ(sim::callCount("GetDiskFreeSpaceA"), 3u) << "C, F and G only";
  EXPECT_EQ(sim::callCount("GetVolumeInformationA"), 2u) << "not for F, whose sizes failed";
}

TEST_F(Listing, NoMemoryForTheListOrForOneEntry) {
  const struct {
    unsigned skip;  // HeapAlloc calls that succeed first
    std::string text;
  } rows[] = {
      {0, ""},                                     // the pool record
      {1, ""},                                     // the list's puddle
      {2, std::string(Heading) + LineA + LineD + LineF + LineG},  // C needs a puddle of its own
  };
  for (const auto& row : rows) {
    sim::failCall("HeapAlloc", row.skip, 1, ERROR_NOT_ENOUGH_MEMORY);
    ReportCollector out;
    listDrives(&out.sink);
    EXPECT_EQ(out.text(), row.text) << row.skip;
  }
}

TEST_F(Listing, TextsEndInsideTheirFieldsAndFailedCallsLeaveThemEmpty) {
  const std::string longest(253, 'n');  // with its two NULs the whole 255 bytes offered
  const std::string tooLong(300, 'x');
  const sim::Drive drives[] = {
      {"C:\\", DRIVE_FIXED, longest.c_str(), "NTFS", longest.c_str(), 512, 512, false},
      {"D:\\", DRIVE_FIXED, tooLong.c_str(), "NTFS", tooLong.c_str(), 512, 512, false},
  };
  sim::setDrives(drives, 2);
  DriveList* list = createDriveList();
  ASSERT_NE(list, nullptr);
  scanDrives(list, AllDriveTypes);
  DriveInfo info;
  std::memset(&info, 0x55, sizeof info);
  DriveEntry* c = nextDrive(list, nullptr, &info, false);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::string(info.volumeLabel), longest);
  EXPECT_EQ(std::string(info.deviceName), longest);
  EXPECT_EQ(c->maxComponentLength, 255u);
  DriveEntry* d = nextDrive(list, c, &info, false);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::string(info.volumeLabel), "") << "the label did not fit: no label, no file system";
  EXPECT_EQ(std::string(info.fileSystem), "");
  EXPECT_EQ(std::string(info.deviceName), "");
  EXPECT_EQ(info.totalBytes, 512u);
  EXPECT_EQ(nextDrive(list, d, &info, false), nullptr);
  deleteDriveList(list);

  // GetLogicalDriveStringsA failing leaves the heading alone; roots are cut to 3 characters.
  sim::failCall("GetLogicalDriveStringsA", 0, 1, ERROR_NOT_ENOUGH_MEMORY);
  ReportCollector out;
  listDrives(&out.sink);
  EXPECT_EQ(out.text(), Heading);
  const sim::Drive longRoot[] = {{"C:\\data", DRIVE_FIXED, "", "", "", 0, 0, true}};
  sim::setDrives(longRoot, 1);
  ReportCollector cut;
  listDrives(&cut.sink);
  EXPECT_EQ(cut.text(), std::string(Heading) + " C:\\ [] Label=\"\" FS= Fixed  Free=0 bytes Disk=0\n");
}

// The whole report over records set in the emulation.
class Report : public testing::Test {
 protected:
  std::atomic_flag shown = ATOMIC_FLAG_INIT;
  FeatureProbe probe{};

  void SetUp() override {
    MEMORYSTATUSEX memory{};
    memory.ullTotalPhys = 6ull << 30;
    memory.ullAvailPhys = 2ull << 30;
    memory.ullTotalPageFile = 8ull << 30;
    memory.ullAvailPageFile = 4ull << 30;
    memory.ullTotalVirtual = 2ull << 30;
    memory.ullAvailVirtual = 1ull << 30;
    sim::setMemoryStatus(&memory);
    OSVERSIONINFOA version{};
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 1;
    version.dwBuildNumber = 2600;
    std::strcpy(version.szCSDVersion, "Service Pack 3");
    sim::setVersion(&version);
    SYSTEM_INFO info{};
    info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    info.dwPageSize = 4096;
    info.dwNumberOfProcessors = 1;
    info.dwActiveProcessorMask = 1;
    info.wProcessorLevel = 6;
    info.wProcessorRevision = 0x0F0B;
    sim::setSystemInfo(&info);
    const LANGID german = 0x407;
    sim::setLanguage(&german);
    sim::setDrives(Drives + 1, 1);
    sim::hideProcedure("IsProcessorFeaturePresent", true);
  }
  void TearDown() override { sim::reset(); }
};

const char Table[] =
    "-Type------------Total------------Avail------------Used-------%-\n"
    "Phys:       6.442.450.944    2.147.483.648    4.294.967.296   66\n"
    "PgFile:     8.589.934.592    4.294.967.296    4.294.967.296   50\n"
    "Virt:       2.147.483.648    1.073.741.824    1.073.741.824   50\n";
const char Details[] =
    "WinXP-Version : 5,1 build 2600\nPatch - Service Pack 3\n"
    "Architecture  : Intel [0] l=6, r=3851\n"
    "PageSize      : 4096\nProcessors    : 1 [0x1]\nFeatures      :\n"
    "SysLanguage   : Prim=0x7 Sub=0x1\n";

TEST_F(Report, FirstCallPrintsEverythingLaterCallsTheTableOnly) {
  ReportCollector first;
  printSystemReport(&first.sink, &shown, &probe);
  EXPECT_EQ(first.text(), std::string("\n") + Table + Details + Heading + LineC);
  ASSERT_FALSE(first.pieces.empty());
  EXPECT_FALSE(first.pieces[0].keepOpen) << "the opening newline closes the protocol file";
  for (size_t i = 1; i < first.pieces.size(); ++i) EXPECT_TRUE(first.pieces[i].keepOpen) << i;

  ReportCollector second;
  printSystemReport(&second.sink, &shown, &probe);
  EXPECT_EQ(second.text(), std::string("\n") + Table);
}

TEST_F(Report, WithoutTheExtendedStatusTheTableShows32BitFigures) {
  sim::hideProcedure("GlobalMemoryStatusEx", true);
  ReportCollector out;
  printSystemReport(&out.sink, &shown, &probe);
  EXPECT_NE(out.text().find("Phys:       4.294.967.295    2.147.483.648    2.147.483.647   50\n"
                            "PgFile:     4.294.967.295    4.294.967.295                0    0\n"),
            std::string::npos)
      << out.text();
}

TEST_F(Report, TwoThreadsAtOncePrintTheDetailsOnce) {
  ReportCollector out;
  std::thread a([&] { printSystemReport(&out.sink, &shown, &probe); });
  std::thread b([&] { printSystemReport(&out.sink, &shown, &probe); });
  a.join();
  b.join();
  unsigned tables = 0, versions = 0;
  for (const std::string& piece : out.texts()) {
    tables += piece.rfind("-Type", 0) == 0;
    versions += piece.rfind("WinXP-Version", 0) == 0;
  }
  EXPECT_EQ(tables, 2u);
  EXPECT_EQ(versions, 1u);
}

TEST_F(Report, FeaturesAreProbedOnceAndAMissingFunctionMeansNone) {
  EXPECT_EQ(probeCpuFeatures(&probe), 0u);
  sim::hideProcedure("IsProcessorFeaturePresent", false);
  EXPECT_EQ(probeCpuFeatures(&probe), 0u) << "the first answer stands";

  FeatureProbe fresh{};
  sim::countCalls("IsProcessorFeaturePresent");
  uint32_t expected = 0;
  const DWORD numbers[] = {3, 6, 10, 7, 9};
  for (unsigned bit = 0; bit < 5; ++bit) expected |= IsProcessorFeaturePresent(numbers[bit]) ? 1u << bit : 0;
  sim::countCalls("IsProcessorFeaturePresent");
  std::thread other([&] { EXPECT_EQ(probeCpuFeatures(&fresh), expected); });
  EXPECT_EQ(probeCpuFeatures(&fresh), expected);
  other.join();
  EXPECT_EQ(probeCpuFeatures(&fresh), expected);
  EXPECT_LE(sim::callCount("IsProcessorFeaturePresent"), 10u);
  EXPECT_GE(sim::callCount("IsProcessorFeaturePresent"), 5u);
}

}  // namespace

}  // namespace trovex
#endif
