// The report's sections rendered from records of the test's own.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "collector.h"

namespace trovex {

namespace {

std::string amount(const char* digits) { return std::string(15 - std::strlen(digits), ' ') + digits; }

TEST(MemoryTable, RowsShowAmountsGroupedAndThePercentageRule) {
  const struct {
    uint64_t total, available;
    const char *totalText, *availText, *usedText, *percent;
  } rows[] = {
      {2147483648ull, 1073741824ull, "2.147.483.648", "1.073.741.824", "1.073.741.824", " 50"},
      {150, 50, "150", "50", "100", "100"},   // divisor 1: not used*100/total
      {100, 37, "100", "37", "63", " 63"},    // a total of 100 or less counts as 100
      {7, 2, "7", "2", "5", "  5"},
      {0, 0, "0", "0", "0", "  0"},
      {1000, 1, "1.000", "1", "999", " 99"},  // truncated
      {50, 100, "50", "100", "18.446.744.073.709.551.566", "-50"},  // low 32 bits, signed
  };
  for (const auto& row : rows) {
    ReportCollector out;
    const MemoryFigures figures{{row.total, row.available}, {1, 0}, {0, 0}};
    printMemoryTable(&out.sink, figures);
    ASSERT_EQ(out.pieces.size(), 1u);
    const std::string used = row.usedText;
    const std::string usedField = used.size() >= 15 ? used : amount(row.usedText);
    EXPECT_EQ(out.text(),
              "-Type------------Total------------Avail------------Used-------%-\n"
              "Phys:     " + amount(row.totalText) + "  " + amount(row.availText) + "  " + usedField + "  " +
                  row.percent + "\n"
              "PgFile:   " + amount("1") + "  " + amount("0") + "  " + amount("1") + "    1\n"
              "Virt:     " + amount("0") + "  " + amount("0") + "  " + amount("0") + "    0\n")
        << row.total;
  }
}

OSVERSIONINFOA version(DWORD platform, DWORD major, DWORD minor, DWORD build, const char* patch) {
  OSVERSIONINFOA record;
  std::memset(&record, 0, sizeof record);
  record.dwOSVersionInfoSize = sizeof record;
  record.dwPlatformId = platform;
  record.dwMajorVersion = major;
  record.dwMinorVersion = minor;
  record.dwBuildNumber = build;
  std::strcpy(record.szCSDVersion, patch);
  return record;
}

TEST(VersionLines, EveryPlatformAndVersionRow) {
  const struct {
    OSVERSIONINFOA record;
    std::vector<std::string> pieces;
  } rows[] = {
      {version(2, 4, 0, 1381, "Service Pack 6"), {"WinNT4-Version : 4,0 build 1381\nPatch - Service Pack 6\n"}},
      {version(2, 5, 0, 2195, ""), {"Win2000-Version : 5,0 build 2195\nPatch - \n"}},
      {version(2, 5, 1, 2600, "Service Pack 2"), {"WinXP-Version : 5,1 build 2600\nPatch - Service Pack 2\n"}},
      {version(2, 5, 2, 3790, ""), {"Win2003-Version : 5,2 build 3790\nPatch - \n"}},
      {version(2, 6, 0, 6000, ""), {"Vista-Version : 6,0 build 6000\nPatch - \n"}},
      {version(2, 6, 1, 7601, "SP1"), {"WinNT-Version : 6,1 build 7601\nPatch - SP1\n"}},
      {version(2, 3, 51, 1057, ""), {"WinNT-Version : 3,51 build 1057\nPatch - \n"}},
      {version(2, 10, 0, 0x80004A61u, ""), {"WinNT-Version : 10,0 build -2147464607\nPatch - \n"}},  // whole build as %d
      {version(1, 4, 0, 0x040003B6u, "B"), {"Win95-Version ", " build 950 (0x400)\nPatch - B\n"}},
      {version(1, 4, 10, 0x040A08AEu, " A "), {"Win98-Version ", " build 2222 (0x40a)\nPatch -  A \n"}},
      {version(1, 4, 90, 0x045A0BB8u, ""), {"WinME-Version ", " build 3000 (0x45a)\nPatch - \n"}},
      {version(1, 4, 3, 0x04030001u, ""), {"WinOS-Version : 4,3", " build 1 (0x403)\nPatch - \n"}},
      {version(1, 3, 95, 0x035F0010u, ""), {"Win-Version : 3,95 build 16 (0x35f)\nPatch - \n"}},
      {version(0, 3, 10, 528, "x"), {"OS-Version : 3,10 build 528 (0x210)\nPatch - x\n"}},
      {version(16, 6, 1, 0x12345, ""), {"OS-Version : 6,1 build 74565 (0x12345)\nPatch - \n"}},
  };
  for (const auto& row : rows) {
    ReportCollector out;
    printVersionLines(&out.sink, row.record);
    EXPECT_EQ(out.texts(), row.pieces) << row.record.dwPlatformId << " " << row.record.dwMajorVersion << "."
                                       << row.record.dwMinorVersion;
  }
}

SYSTEM_INFO systemInfo(WORD architecture, WORD reserved, WORD level, WORD revision) {
  SYSTEM_INFO info;
  std::memset(&info, 0, sizeof info);
  info.wProcessorArchitecture = architecture;
  info.wReserved = reserved;
  info.wProcessorLevel = level;
  info.wProcessorRevision = revision;
  info.dwPageSize = 4096;
  info.dwNumberOfProcessors = 2;
  info.dwActiveProcessorMask = 3;
  return info;
}

TEST(ProcessorLines, ArchitectureNamesAndTheWholeFirstWord) {
  const struct {
    WORD architecture, reserved;
    const char* line;
  } rows[] = {
      {0, 0, "Architecture  : Intel [0] l=6, r=15363\n"},
      {5, 0, "Architecture  : ARM [5] l=6, r=15363\n"},
      {9, 0, "Architecture  : AMD64 [9] l=6, r=15363\n"},
      {10, 0, "Architecture  : IA64-W64 [10] l=6, r=15363\n"},
      {11, 0, "Architecture  : --unknown-- [11] l=6, r=15363\n"},
      {0xFFFF, 0, "Architecture  : --unknown-- [65535] l=6, r=15363\n"},
      {0, 1, "Architecture  : Intel [65536] l=6, r=15363\n"},  // the reserved half-word shows in the number
  };
  for (const auto& row : rows) {
    ReportCollector out;
    printProcessorLines(&out.sink, systemInfo(row.architecture, row.reserved, 6, 0x3C03), 0);
    ASSERT_FALSE(out.pieces.empty());
    EXPECT_EQ(out.pieces[0].text, row.line);
  }
}

// The processor mask prints whole at the process's pointer width.
TEST(ProcessorLines, FeatureWordsInTheirOrderEachAPieceOfItsOwnAndTheWholeMask) {
  const bool wide = sizeof(DWORD_PTR) == 8;  // a 64-bit process: processors 33 to 64 too
  const struct {
    uint32_t features;
    DWORD_PTR processors;
    const char* processorsText;
    std::vector<std::string> words;
  } rows[] = {
      {0, 3, "[0x3]", {}},
      {FeatureMmx | FeatureSse | FeatureSse2 | Feature3dNow | FeaturePae, 0xFFFFFFFFu, "[0xffffffff]",
       {" MMX", " SSE", " SSE2", " 3Dnow", " PAE"}},
      {FeaturePae | FeatureSse2, static_cast<DWORD_PTR>(wide ? 0xFFFFFFFF00000001ull : 0x80000001u),
       wide ? "[0xffffffff00000001]" : "[0x80000001]", {" SSE2", " PAE"}},
  };
  for (const auto& row : rows) {
    SYSTEM_INFO info = systemInfo(9, 0, 6, 1);
    info.dwActiveProcessorMask = row.processors;
    ReportCollector out;
    printProcessorLines(&out.sink, info, row.features);
    std::vector<std::string> expected = {"Architecture  : AMD64 [9] l=6, r=1\n",
                                         std::string("PageSize      : 4096\nProcessors    : 2 ") + row.processorsText +
                                             "\nFeatures      :"};
    expected.insert(expected.end(), row.words.begin(), row.words.end());
    expected.push_back("\n");
    EXPECT_EQ(out.texts(), expected) << row.features;
  }
}

TEST(LanguageLine, PrimaryLanguageAndSublanguage) {
  const struct {
    LANGID language;
    const char* line;
  } rows[] = {{0x407, "SysLanguage   : Prim=0x7 Sub=0x1\n"},
              {0x0C0C, "SysLanguage   : Prim=0xc Sub=0x3\n"},
              {0xFFFF, "SysLanguage   : Prim=0x3ff Sub=0x3f\n"}};
  for (const auto& row : rows) {
    ReportCollector out;
    printLanguageLine(&out.sink, row.language);
    EXPECT_EQ(out.text(), row.line);
  }
}

DriveInfo driveInfo(const char* root, const char* device, const char* label, const char* fileSystem,
                    uint32_t typeBits, uint64_t freeBytes, uint64_t totalBytes) {
  DriveInfo info;
  std::memset(&info, 0, sizeof info);
  std::strcpy(info.rootName, root);
  std::strcpy(info.deviceName, device);
  std::strcpy(info.volumeLabel, label);
  std::strcpy(info.fileSystem, fileSystem);
  info.typeBits = typeBits;
  info.freeBytes = freeBytes;
  info.totalBytes = totalBytes;
  return info;
}

TEST(DriveLine, FieldsEscapesCutsAndTypeWords) {
  const std::string longLabel(150, 'L'), longDevice(120, 'd');
  const struct {
    DriveInfo info;
    std::vector<std::string> pieces;
  } rows[] = {
      {driveInfo("C:\\", "\\Device\\HarddiskVolume1", "System", "NTFS", DriveFixed, 1234567, 9876543210ull),
       {" C:\\ [\\\\Device\\\\HarddiskVolume1] Label=\"System\" FS=NTFS ", "Fixed ",
        " Free=1.234.567 bytes Disk=9.876.543.210\n"}},
      {driveInfo("A:\\", "", "", "", DriveRemovable, 0, 0),
       {" A:\\ [] Label=\"\" FS= ", "removable ", " Free=0 bytes Disk=0\n"}},
      {driveInfo("X:\\", longDevice.c_str(), longLabel.c_str(), "FAT", DriveNetwork, 0, 0),
       {" X:\\ [" + std::string(100, 'd') + "] Label=\"" + std::string(100, 'L') + "\" FS=FAT ", "Network ",
        " Free=0 bytes Disk=0\n"}},
      {driveInfo("Z:\\", "a\tb", "", "", AllDriveTypes, 0, 0),
       {" Z:\\ [a\\tb] Label=\"\" FS= ", "CDRom ", "Network ", "Fixed ", "Ramdisk ", "removable ",
        " Free=0 bytes Disk=0\n"}},
      {driveInfo("Q:\\", "", "", "", 0, 0, 0), {" Q:\\ [] Label=\"\" FS= ", " Free=0 bytes Disk=0\n"}},
  };
  for (const auto& row : rows) {
    ReportCollector out;
    printDriveLine(&out.sink, row.info);
    EXPECT_EQ(out.texts(), row.pieces) << row.info.rootName;
  }
}

TEST(Details, SectionsInTheirOrderFromRecordsOfTheTestsOwn) {
  DriveList* drives = createDriveList();
  ASSERT_NE(drives, nullptr);
  DriveEntry* c = appendDrive(drives, "C:\\data", DriveFixed);  // the root is cut to "C:\"
  ASSERT_NE(c, nullptr);
  std::strcpy(c->deviceName, "\\Device\\HarddiskVolume1");
  std::strcpy(c->volumeLabel, "System");
  std::strcpy(c->fileSystem, "NTFS");
  c->freeBytes = 512000;
  c->totalBytes = 2560000;
  const std::string head =
      "WinXP-Version : 5,1 build 2600\nPatch - SP3\n"
      "Architecture  : AMD64 [9] l=6, r=1\nPageSize      : 4096\nProcessors    : 2 [0x3]\nFeatures      : SSE\n"
      "SysLanguage   : Prim=0x7 Sub=0x1\n";
  const struct {
    DriveList* drives;
    std::string text;
  } rows[] = {
      {drives, head + "\n-Drives--------------------\n"
                      " C:\\ [\\\\Device\\\\HarddiskVolume1] Label=\"System\" FS=NTFS Fixed  Free=512.000 bytes Disk=2.560.000\n"},
      {nullptr, head},  // no memory for the list: no drive section, not even its heading
  };
  for (const auto& row : rows) {
    const SystemDetails details{version(2, 5, 1, 2600, "SP3"), systemInfo(9, 0, 6, 1), FeatureSse, 0x407, row.drives};
    ReportCollector out;
    printDetails(&out.sink, details);
    EXPECT_EQ(out.text(), row.text);
    for (const ReportPiece& piece : out.pieces) EXPECT_TRUE(piece.keepOpen);
  }
  deleteDriveList(drives);
}

#if defined(TROVEX_CONTRACTS)
TEST(Details, AFieldWithoutItsTerminatorStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  DriveInfo drive = driveInfo("C:\\", "", "", "", DriveFixed, 0, 0);
  std::memset(drive.fileSystem, 'x', sizeof drive.fileSystem);
  OSVERSIONINFOA record = version(2, 5, 1, 2600, "");
  std::memset(record.szCSDVersion, 'x', sizeof record.szCSDVersion);
  ReportCollector out;
  const std::function<void()> rows[] = {[&] { printDriveLine(&out.sink, drive); },
                                        [&] { printVersionLines(&out.sink, record); }};
  for (const auto& run : rows) EXPECT_DEATH(run(), "contract broken");
}
#endif

}  // namespace

}  // namespace trovex
