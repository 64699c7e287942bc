// Memory status, version, processor, user language and the loader's look-up
// of optional functions, from the running system unless a test replaced them.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sched.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>
#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "platform/posix/handles.h"
#include "platform/posix/sim.h"

namespace trovex::win32 {

namespace {

// Replacements set by tests; each `has` flag says whether it is in use. The
// shipped emulation reports the running system only.
struct Replacements {
  bool hasMemory, hasVersion, hasSystem, hasLanguage;
  MEMORYSTATUSEX memory;
  OSVERSIONINFOA version;
  SYSTEM_INFO system;
  LANGID language;
  const char* hidden[8];  // names GetProcAddress reports missing
};

#if defined(TROVEX_SIM)
Replacements replaced;
pthread_mutex_t replacedLock = PTHREAD_MUTEX_INITIALIZER;

template <typename Record>
bool copyReplacement(bool Replacements::*has, Record Replacements::*field, Record* out) {
  pthread_mutex_lock(&replacedLock);
  const bool use = replaced.*has;
  if (use) *out = replaced.*field;
  pthread_mutex_unlock(&replacedLock);
  return use;
}

template <typename Record>
void setReplacement(bool Replacements::*has, Record Replacements::*field, const Record* value) {
  pthread_mutex_lock(&replacedLock);
  replaced.*has = value != nullptr;
  if (value) replaced.*field = *value;
  pthread_mutex_unlock(&replacedLock);
}

bool isHidden(const char* name) {
  pthread_mutex_lock(&replacedLock);
  bool hidden = false;
  for (const char* entry : replaced.hidden)
    if (entry && std::strcmp(entry, name) == 0) hidden = true;
  pthread_mutex_unlock(&replacedLock);
  return hidden;
}
#else
template <typename Record>
bool copyReplacement(bool Replacements::*, Record Replacements::*, Record*) { return false; }
bool isHidden(const char*) { return false; }
#endif

// A figure of /proc/meminfo in bytes, or `fallback` when it is not there.
uint64_t memInfoBytes(const char* key, uint64_t fallback) {
  FILE* file = std::fopen("/proc/meminfo", "r");
  if (!file) return fallback;
  char line[256];
  const size_t keyLength = std::strlen(key);
  uint64_t result = fallback;
  while (std::fgets(line, sizeof line, file)) {
    if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
      result = std::strtoull(line + keyLength + 1, nullptr, 10) * 1024;
      break;
    }
  }
  std::fclose(file);
  return result;
}

void systemMemory(MEMORYSTATUSEX* status) {
  struct sysinfo info {};
  sysinfo(&info);
  const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
  status->ullTotalPhys = info.totalram * unit;
  status->ullAvailPhys = memInfoBytes("MemAvailable", info.freeram * unit);
  status->ullTotalPageFile = status->ullTotalPhys + info.totalswap * unit;
  status->ullAvailPageFile = status->ullAvailPhys + info.freeswap * unit;
  // The user address space: the limit if one is set, else what the
  // architecture gives a process.
  uint64_t addressSpace = sizeof(void*) == 8 ? (1ull << 47) : (3ull << 30);
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < addressSpace)
    addressSpace = limit.rlim_cur;
  uint64_t mapped = 0;
  if (FILE* file = std::fopen("/proc/self/statm", "r")) {
    unsigned long long pages = 0;
    if (std::fscanf(file, "%llu", &pages) == 1) mapped = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    std::fclose(file);
  }
  status->ullTotalVirtual = addressSpace;
  status->ullAvailVirtual = mapped < addressSpace ? addressSpace - mapped : 0;
  const uint64_t total = status->ullTotalPhys;
  status->dwMemoryLoad = total ? static_cast<DWORD>((total - status->ullAvailPhys) * 100 / total) : 0;
}

void currentMemory(MEMORYSTATUSEX* status) {
  if (!copyReplacement(&Replacements::hasMemory, &Replacements::memory, status)) systemMemory(status);
}

DWORD capped(uint64_t amount) { return amount > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(amount); }

void systemVersion(OSVERSIONINFOA* version) {
  struct utsname name {};
  uname(&name);
  unsigned numbers[3] = {0, 0, 0};
  const char* p = name.release;
  for (unsigned& number : numbers) {
    number = static_cast<unsigned>(std::strtoul(p, const_cast<char**>(&p), 10));
    if (*p != '.') break;
    ++p;
  }
  version->dwMajorVersion = numbers[0];
  version->dwMinorVersion = numbers[1];
  version->dwBuildNumber = numbers[2];
  version->dwPlatformId = VER_PLATFORM_POSIX;
  // The system's name and its build text, cut to the field.
  std::string text = std::string(name.sysname) + " " + name.version;
  text.resize(std::min(text.size(), sizeof version->szCSDVersion - 1));
  std::memcpy(version->szCSDVersion, text.c_str(), text.size() + 1);
}

WORD architectureOf(const char* machine) {
  const struct {
    const char* prefix;
    WORD architecture;
  } names[] = {{"x86_64", PROCESSOR_ARCHITECTURE_AMD64}, {"i386", PROCESSOR_ARCHITECTURE_INTEL},
               {"i486", PROCESSOR_ARCHITECTURE_INTEL},   {"i586", PROCESSOR_ARCHITECTURE_INTEL},
               {"i686", PROCESSOR_ARCHITECTURE_INTEL},   {"aarch64", PROCESSOR_ARCHITECTURE_ARM64},
               {"arm", PROCESSOR_ARCHITECTURE_ARM},      {"mips", PROCESSOR_ARCHITECTURE_MIPS},
               {"ppc", PROCESSOR_ARCHITECTURE_PPC},      {"ia64", PROCESSOR_ARCHITECTURE_IA64},
               {"alpha", PROCESSOR_ARCHITECTURE_ALPHA}};
  for (const auto& entry : names)
    if (std::strncmp(machine, entry.prefix, std::strlen(entry.prefix)) == 0) return entry.architecture;
  return PROCESSOR_ARCHITECTURE_UNKNOWN;
}

void systemInfo(SYSTEM_INFO* info) {
  struct utsname name {};
  uname(&name);
  info->wProcessorArchitecture = architectureOf(name.machine);
  info->dwPageSize = static_cast<DWORD>(sysconf(_SC_PAGESIZE));
  info->dwAllocationGranularity = 65536;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(static_cast<uintptr_t>(info->dwPageSize));
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(~static_cast<uintptr_t>(0) >> 17);
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  info->dwNumberOfProcessors = processors > 0 ? static_cast<DWORD>(processors) : 1;
  cpu_set_t set;
  CPU_ZERO(&set);
  DWORD_PTR mask = 0;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu)
      if (CPU_ISSET(cpu, &set)) mask |= static_cast<DWORD_PTR>(1) << cpu;
  }
  info->dwActiveProcessorMask = mask;
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
    unsigned family = (eax >> 8) & 0xF, model = (eax >> 4) & 0xF;
    if (family == 0xF) family += (eax >> 20) & 0xFF;
    if (family >= 6) model |= ((eax >> 16) & 0xF) << 4;
    info->wProcessorLevel = static_cast<WORD>(family);
    info->wProcessorRevision = static_cast<WORD>(model << 8 | (eax & 0xF));
  }
  info->dwProcessorType = sizeof(void*) == 8 ? 8664 : 586;
#endif
}

struct LanguageName {
  const char* code;   // ISO 639 language code
  WORD primary;       // Windows primary language
  const char* regions;  // ISO 3166 codes, in the order of the sublanguages from 1
};
const LanguageName Languages[] = {
    {"ar", 0x01, "SA"},         {"zh", 0x04, "TW CN HK SG"}, {"cs", 0x05, "CZ"},
    {"da", 0x06, "DK"},         {"de", 0x07, "DE CH AT LU LI"}, {"el", 0x08, "GR"},
    {"en", 0x09, "US GB AU CA NZ IE"}, {"es", 0x0a, "ES MX"}, {"fi", 0x0b, "FI"},
    {"fr", 0x0c, "FR BE CA CH LU"}, {"hu", 0x0e, "HU"},      {"it", 0x10, "IT CH"},
    {"ja", 0x11, "JP"},         {"ko", 0x12, "KR"},          {"nl", 0x13, "NL BE"},
    {"nb", 0x14, "NO"},         {"pl", 0x15, "PL"},          {"pt", 0x16, "BR PT"},
    {"ru", 0x19, "RU"},         {"sv", 0x1d, "SE FI"},       {"tr", 0x1f, "TR"},
};

// "de_DE.UTF-8" to 0x0407: the sublanguage is the region's place in the
// language's list, or 1 (the default) for a region not in it.
LANGID languageOfLocale(const char* locale) {
  if (!locale || !*locale || std::strcmp(locale, "C") == 0 || std::strncmp(locale, "C.", 2) == 0 ||
      std::strcmp(locale, "POSIX") == 0)
    return 0x0409;
  for (const LanguageName& language : Languages) {
    if (std::strncmp(locale, language.code, 2) != 0 || std::isalpha(static_cast<unsigned char>(locale[2])))
      continue;
    WORD sublanguage = 1;
    if (locale[2] == '_') {
      WORD place = 1;
      for (const char* region = language.regions; *region; region += region[2] ? 3 : 2, ++place)
        if (std::strncmp(region, locale + 3, 2) == 0) sublanguage = place;
    }
    return static_cast<LANGID>(sublanguage << 10 | language.primary);
  }
  return 0x0400;  // neutral language, default sublanguage
}

int kernelModule;  // only its address is used, as kernel32's module handle

bool isKernelName(const char* name) {
  return strcasecmp(name, "kernel32.dll") == 0 || strcasecmp(name, "kernel32") == 0;
}

}  // namespace

void WINAPI GlobalMemoryStatus(LPMEMORYSTATUS status) {
  if (simShouldFail("GlobalMemoryStatus")) return;
  MEMORYSTATUSEX full{};
  currentMemory(&full);
  status->dwLength = sizeof(MEMORYSTATUS);
  status->dwMemoryLoad = full.dwMemoryLoad;
  status->dwTotalPhys = capped(full.ullTotalPhys);
  status->dwAvailPhys = capped(full.ullAvailPhys);
  status->dwTotalPageFile = capped(full.ullTotalPageFile);
  status->dwAvailPageFile = capped(full.ullAvailPageFile);
  status->dwTotalVirtual = capped(full.ullTotalVirtual);
  status->dwAvailVirtual = capped(full.ullAvailVirtual);
}

BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX status) {
  if (simShouldFail("GlobalMemoryStatusEx")) return FALSE;
  if (status->dwLength != sizeof(MEMORYSTATUSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  currentMemory(status);
  status->dwLength = sizeof(MEMORYSTATUSEX);
  return TRUE;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA version) {
  if (simShouldFail("GetVersionExA")) return FALSE;
  if (version->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  OSVERSIONINFOA result{};
  if (!copyReplacement(&Replacements::hasVersion, &Replacements::version, &result)) systemVersion(&result);
  result.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  *version = result;
  return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
  SYSTEM_INFO result{};
  if (!copyReplacement(&Replacements::hasSystem, &Replacements::system, &result)) systemInfo(&result);
  *info = result;
}

BOOL WINAPI IsProcessorFeaturePresent(DWORD feature) {
  if (simShouldFail("IsProcessorFeaturePresent")) return FALSE;
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  switch (feature) {
    case PF_MMX_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("mmx") ? TRUE : FALSE;
    case PF_XMMI_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse") ? TRUE : FALSE;
    case PF_XMMI64_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse2") ? TRUE : FALSE;
    case PF_3DNOW_INSTRUCTIONS_AVAILABLE:
      return __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) && (edx & (1u << 31)) ? TRUE : FALSE;
    case PF_PAE_ENABLED: return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & (1u << 6)) ? TRUE : FALSE;
    default: return FALSE;
  }
#else
  (void)feature;
  return FALSE;
#endif
}

LANGID WINAPI GetUserDefaultLangID() {
  LANGID language = 0;
  if (copyReplacement(&Replacements::hasLanguage, &Replacements::language, &language)) return language;
  const char* locale = std::getenv("LC_ALL");
  if (!locale || !*locale) locale = std::getenv("LC_MESSAGES");
  if (!locale || !*locale) locale = std::getenv("LANG");
  return languageOfLocale(locale);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (simShouldFail("GetModuleHandleA")) return nullptr;
  if (name && isKernelName(name)) return &kernelModule;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (simShouldFail("GetProcAddress")) return nullptr;
  const struct {
    const char* name;
    void (*function)();
  } exported[] = {
      {"GlobalMemoryStatusEx", reinterpret_cast<void (*)()>(&GlobalMemoryStatusEx)},
      {"IsProcessorFeaturePresent", reinterpret_cast<void (*)()>(&IsProcessorFeaturePresent)},
  };
  if (module == &kernelModule && name && !isHidden(name)) {
    for (const auto& entry : exported)
      if (std::strcmp(entry.name, name) == 0) return reinterpret_cast<FARPROC>(entry.function);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

#if defined(TROVEX_SIM)
namespace sim {

void setMemoryStatus(const MEMORYSTATUSEX* status) {
  setReplacement(&Replacements::hasMemory, &Replacements::memory, status);
}
void setVersion(const OSVERSIONINFOA* version) {
  setReplacement(&Replacements::hasVersion, &Replacements::version, version);
}
void setSystemInfo(const SYSTEM_INFO* info) { setReplacement(&Replacements::hasSystem, &Replacements::system, info); }
void setLanguage(const LANGID* language) {
  setReplacement(&Replacements::hasLanguage, &Replacements::language, language);
}

void hideProcedure(const char* name, bool hidden) {
  pthread_mutex_lock(&replacedLock);
  for (const char*& entry : replaced.hidden)
    if (entry && std::strcmp(entry, name) == 0) entry = nullptr;
  if (hidden) {
    for (const char*& entry : replaced.hidden)
      if (!entry) {
        entry = name;
        break;
      }
  }
  pthread_mutex_unlock(&replacedLock);
}

void resetSystem() {
  pthread_mutex_lock(&replacedLock);
  replaced = Replacements{};
  pthread_mutex_unlock(&replacedLock);
  setDrives(nullptr, 0);
}

}  // namespace sim
#endif

}  // namespace trovex::win32
