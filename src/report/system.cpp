// Memory, version, processor and language: gathered from the platform into
// records, and printed from records.
#include <cstring>

#include "common/contract.h"
#include "report/sections.h"

namespace trovex {

namespace {

// Record sizes the platform checks; fixed by the Windows ABI. The old memory
// status holds SIZE_T amounts: 32 bytes in a 32-bit process, wider in a
// 64-bit one, so its size is the compiler's.
constexpr DWORD MemoryStatusSize32 = 32;
constexpr DWORD MemoryStatusExSize = 64;
constexpr DWORD VersionInfoSize = 148;
static_assert(sizeof(MEMORYSTATUS) == MemoryStatusSize32 || sizeof(void*) != 4, "MEMORYSTATUS layout");
static_assert(sizeof(MEMORYSTATUSEX) == MemoryStatusExSize, "MEMORYSTATUSEX layout");
static_assert(sizeof(OSVERSIONINFOA) == VersionInfoSize, "OSVERSIONINFOA layout");

const char MemoryTableFormat[] =
    "-Type------------Total------------Avail------------Used-------%%-\n"
    "Phys:     %15LU  %15LU  %15LU  %3d\n"
    "PgFile:   %15LU  %15LU  %15LU  %3d\n"
    "Virt:     %15LU  %15LU  %15LU  %3d\n";

// An optional function of kernel32, looked up by name; null when missing.
template <typename Function>
Function kernelFunction(const char* module, const char* name) {
  HMODULE kernel = GetModuleHandleA(module);
  FARPROC procedure = kernel ? GetProcAddress(kernel, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(procedure));
}

using MemoryStatusExFunction = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
using FeaturePresentFunction = BOOL(WINAPI*)(DWORD);

const char* ntName(DWORD major, DWORD minor) {
  if (major == 4) return "WinNT4";
  if (major == 5 && minor == 0) return "Win2000";
  if (major == 5 && minor == 1) return "WinXP";
  if (major == 5 && minor == 2) return "Win2003";
  if (major == 6 && minor == 0) return "Vista";
  return "WinNT";
}

const char* const ArchitectureNames[] = {"Intel", "Mips", "Alpha", "PPC",   "SHX",     "ARM",
                                         "IA64",  "Alpha64", "MSIL", "AMD64", "IA64-W64"};

// Feature bits in the order they are asked and printed, with the platform's numbers.
const struct {
  uint32_t bit;
  DWORD platformFeature;
  const char* word;
} Features[] = {{FeatureMmx, 3, " MMX"}, {FeatureSse, 6, " SSE"}, {FeatureSse2, 10, " SSE2"},
                {Feature3dNow, 7, " 3Dnow"}, {FeaturePae, 9, " PAE"}};

uint32_t askFeatures() {
  const auto present = kernelFunction<FeaturePresentFunction>("Kernel32.dll", "IsProcessorFeaturePresent");
  uint32_t mask = 0;
  if (!present) return mask;
  for (const auto& feature : Features)
    if (present(feature.platformFeature)) mask |= feature.bit;
  return mask;
}

enum ProbeState : uint32_t { NotProbed, Probing, Probed };

FeatureProbe processProbe{};

}  // namespace

void gatherMemory(MemoryFigures* figures) {
  *figures = MemoryFigures{};
  if (const auto statusEx = kernelFunction<MemoryStatusExFunction>("kernel32.dll", "GlobalMemoryStatusEx")) {
    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = MemoryStatusExSize;
    statusEx(&status);
    *figures = MemoryFigures{{status.ullTotalPhys, status.ullAvailPhys},
                             {status.ullTotalPageFile, status.ullAvailPageFile},
                             {status.ullTotalVirtual, status.ullAvailVirtual}};
    return;
  }
  MEMORYSTATUS status;
  std::memset(&status, 0, sizeof status);
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  *figures = MemoryFigures{{status.dwTotalPhys, status.dwAvailPhys},
                           {status.dwTotalPageFile, status.dwAvailPageFile},
                           {status.dwTotalVirtual, status.dwAvailVirtual}};
}

int32_t usedPercentage(const MemoryRow& row) {
  const uint64_t used = row.total - row.available;
  const uint64_t divisor = (row.total > 100 ? row.total : 100) / 100;
  return static_cast<int32_t>(static_cast<uint32_t>(used / divisor));
}

void printMemoryTable(const ReportSink* sink, const MemoryFigures& figures) {
  // "%LU" takes a long long.
  using Amount = unsigned long long;
  const MemoryRow& phys = figures.physical;
  const MemoryRow& page = figures.pageFile;
  const MemoryRow& virt = figures.virtualSpace;
  reportPrint(sink, MemoryTableFormat,
              Amount{phys.total}, Amount{phys.available}, Amount{phys.total - phys.available}, usedPercentage(phys),
              Amount{page.total}, Amount{page.available}, Amount{page.total - page.available}, usedPercentage(page),
              Amount{virt.total}, Amount{virt.available}, Amount{virt.total - virt.available}, usedPercentage(virt));
}

void gatherVersion(OSVERSIONINFOA* version) {
  std::memset(version, 0, sizeof *version);
  version->dwOSVersionInfoSize = VersionInfoSize;
  GetVersionExA(version);
  version->szCSDVersion[sizeof version->szCSDVersion - 1] = '\0';
}

void printVersionLines(const ReportSink* sink, const OSVERSIONINFOA& version) {
  const int major = static_cast<int>(version.dwMajorVersion);
  const int minor = static_cast<int>(version.dwMinorVersion);
  const DWORD build = version.dwBuildNumber;
  const unsigned buildLow = build & 0xFFFF, buildHigh = build >> 16;
  const char* patch = version.szCSDVersion;
  TROVEX_ASSERT(terminatedInside(version.szCSDVersion));

  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    reportPrint(sink, "%s-Version : %d,%d build %d\nPatch - %s\n", ntName(version.dwMajorVersion, version.dwMinorVersion),
                major, minor, static_cast<int>(build), patch);
  } else if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && major == 4) {
    switch (minor) {
      case 0: reportPrint(sink, "Win95-Version "); break;
      case 10: reportPrint(sink, "Win98-Version "); break;
      case 90: reportPrint(sink, "WinME-Version "); break;
      default: reportPrint(sink, "WinOS-Version : %d,%d", major, minor); break;
    }
    reportPrint(sink, " build %d (%#x)\nPatch - %s\n", buildLow, buildHigh, patch);
  } else if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    reportPrint(sink, "Win-Version : %d,%d build %d (%#x)\nPatch - %s\n", major, minor, buildLow, buildHigh, patch);
  } else {
    reportPrint(sink, "OS-Version : %d,%d build %d (%#x)\nPatch - %s\n", major, minor, static_cast<int>(build),
                static_cast<unsigned>(build), patch);
  }
}

uint32_t probeCpuFeatures(FeatureProbe* probe) {
  uint32_t state = probe->state.load(std::memory_order_acquire);
  if (state == Probed) return probe->mask;
  const bool mine = state == NotProbed &&
                    probe->state.compare_exchange_strong(state, Probing, std::memory_order_acq_rel);
  if (!mine && state == Probed) return probe->mask;
  // A thread that arrives while another probes asks for itself rather than
  // wait or read a mask that is not complete yet.
  const uint32_t mask = askFeatures();
  if (mine) {
    probe->mask = mask;
    probe->state.store(Probed, std::memory_order_release);
  }
  return mask;
}

uint32_t probeCpuFeatures() { return probeCpuFeatures(&processProbe); }

void gatherSystemInfo(SYSTEM_INFO* info) {
  std::memset(info, 0, sizeof *info);
  GetSystemInfo(info);
}

void printProcessorLines(const ReportSink* sink, const SYSTEM_INFO& info, uint32_t features) {
  const unsigned architecture = info.wProcessorArchitecture;
  const char* name = architecture < sizeof ArchitectureNames / sizeof *ArchitectureNames
                         ? ArchitectureNames[architecture] : "--unknown--";
  reportPrint(sink, "Architecture  : %s [%d] l=%d, r=%d\n", name, static_cast<int>(info.dwOemId),
              static_cast<int>(info.wProcessorLevel), static_cast<int>(info.wProcessorRevision));
  // The mask is pointer-wide: all of it, 64 processors in a 64-bit process.
  reportPrint(sink, "PageSize      : %d\nProcessors    : %d [%#Lx]\nFeatures      :", static_cast<int>(info.dwPageSize),
              static_cast<int>(info.dwNumberOfProcessors),
              static_cast<unsigned long long>(info.dwActiveProcessorMask));
  for (const auto& feature : Features)
    if (features & feature.bit) reportPrint(sink, feature.word);
  reportPrint(sink, "\n");
}

void printLanguageLine(const ReportSink* sink, LANGID language) {
  reportPrint(sink, "SysLanguage   : Prim=%#x Sub=%#x\n", language & 0x3FFu, static_cast<unsigned>(language) >> 10);
}

}  // namespace trovex
