// The system report through the callback of a host, its lines checked for
// their shape and, on Windows, against what the system itself reports.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "trovex.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

std::string reportText;
bool headerCallSeen = false;

void TROVEX_CALL collect(const char* label, const char* id, const char* data, int length) {
  if (label || id) headerCallSeen = true;
  if (data) reportText.append(data, static_cast<size_t>(length));
}

std::string report() {
  reportText.clear();
  Trovex_Func_i(collect);
  Trovex_PrintSystemInfo();
  Trovex_Func_i(nullptr);
  return reportText;
}

const char TableShape[] =
    "\n-Type------------Total------------Avail------------Used-------%-\n"
    "Phys:     [ 0-9.]{15,}  [ 0-9.]{15,}  [ 0-9.]{15,}  [ 0-9-]{3,}\n"
    "PgFile:   [ 0-9.]{15,}  [ 0-9.]{15,}  [ 0-9.]{15,}  [ 0-9-]{3,}\n"
    "Virt:     [ 0-9.]{15,}  [ 0-9.]{15,}  [ 0-9.]{15,}  [ 0-9-]{3,}\n";

TEST(HostReport, FirstReportHasEverySectionLaterOnesTheTableOnly) {
  const std::string first = report();
  EXPECT_FALSE(headerCallSeen) << "the report has no category and no identifier";
  const std::string shape = std::string(TableShape) +
      "(WinNT4|Win2000|WinXP|Win2003|Vista|WinNT|Win95|Win98|WinME|WinOS|Win|OS)-Version [^\n]*build [^\n]*\n"
      "Patch - [^\n]*\n"
      "Architecture  : [A-Za-z0-9-]+ \\[[0-9]+\\] l=[0-9]+, r=[0-9]+\n"
      "PageSize      : [0-9]+\nProcessors    : [0-9]+ \\[0x[0-9a-f]+\\]\n"
      "Features      :( MMX)?( SSE)?( SSE2)?( 3Dnow)?( PAE)?\n"
      "SysLanguage   : Prim=0x[0-9a-f]+ Sub=0x[0-9a-f]+\n"
      "\n-Drives--------------------\n"
      "( [A-Z]:\\\\ \\[[^\n]*\\] Label=\"[^\n]*\" FS=[^\n]* ((CDRom|Network|Fixed|Ramdisk|removable) )+"
      " Free=[0-9.]+ bytes Disk=[0-9.]+\n)*";
  EXPECT_TRUE(std::regex_match(first, std::regex(shape))) << first;

  const std::string second = report();
  EXPECT_TRUE(std::regex_match(second, std::regex(TableShape))) << second;

#if defined(_WIN32)
  // The details as Windows (or Wine) reports them.
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  char expected[256];
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    std::snprintf(expected, sizeof expected, "-Version : %lu,%lu build %ld\nPatch - %s\n", version.dwMajorVersion,
                  version.dwMinorVersion, static_cast<long>(static_cast<LONG>(version.dwBuildNumber)),
                  version.szCSDVersion);
    EXPECT_NE(first.find(expected), std::string::npos) << expected;
  }
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  std::snprintf(expected, sizeof expected, " [%lu] l=%u, r=%u\nPageSize      : %lu\nProcessors    : %lu [0x%lx]\n",
                info.dwOemId, info.wProcessorLevel, info.wProcessorRevision, info.dwPageSize,
                info.dwNumberOfProcessors, static_cast<unsigned long>(info.dwActiveProcessorMask));
  EXPECT_NE(first.find(expected), std::string::npos) << expected;
  const LANGID language = GetUserDefaultLangID();
  std::snprintf(expected, sizeof expected, "SysLanguage   : Prim=0x%x Sub=0x%x\n", language & 0x3FFu, language >> 10u);
  EXPECT_NE(first.find(expected), std::string::npos) << expected;
  // Every drive of a listed kind, in the system's order.
  char roots[2000] = {};
  GetLogicalDriveStringsA(sizeof roots - 1, roots);
  size_t from = 0;
  for (const char* root = roots; *root; root += strlen(root) + 1) {
    const UINT type = GetDriveTypeA(root);
    if (type < DRIVE_REMOVABLE || type > DRIVE_RAMDISK) continue;
    const size_t at = first.find(std::string("\n ") + root + " [", from);
    EXPECT_NE(at, std::string::npos) << root;
    if (at != std::string::npos) from = at;
  }
#endif
}

}  // namespace
