// A host's integer and "f" directives reach its callback byte for byte, with
// the host's own argument list: natively and from the DLL under Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "trovex.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

std::string received;  // the data calls of the last message

void TROVEX_CALL collect(const char*, const char*, const char* data, int length) {
  if (data) received.append(data, static_cast<size_t>(length));
}

template <typename... Args>
std::string body(const char* format, Args... args) {
  received.clear();
  Trovex_Func_i(collect);
  Trovex_Printf("we", "FMT", format, args...);
  Trovex_Func_i(nullptr);
  return received;
}

TEST(HostFormat, IntegersAndFloatsArriveExactly) {
  EXPECT_EQ(body("%d|%5d|%05d|%-5d|%.3d", -2147483647 - 1, -42, -42, 42, 12345),
            "-2147483648|-  42|-0042|42|123");
  EXPECT_EQ(body("%15LU|%LD|%#x|%#o|%LX", 1073741824ULL, -1234567LL, 255u, 8u, 1ULL << 40),
            "  1.073.741.824|-1.234.567|0xff|010|10000000000");
  EXPECT_EQ(body("%f|%.2f|%.1f|%8.2f|%05.1f|%2f", 0.1, 2.675, 0.25, 3.14159, -2.25, 12345.5),
            "0.1|2.68|0.3|       3.14|-0002.3|12.5");
  EXPECT_EQ(body("%f|%.0f|%Lu", 3.14159, 1e23, 18446744073709551615ULL),
            "3.1415899999999999|99999999999999991611392|18446744073709551615");
}

// A page as high in the address space as the system gives: above 4 GiB in
// a 64-bit process.
char* highPage() {
#if defined(_WIN32)
  return static_cast<char*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE));
#else
  void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return page == MAP_FAILED ? nullptr : static_cast<char*>(page);
#endif
}

// Pointers are read at the host's width: text and memory above 4 GiB arrive
// whole, and the arguments after each pointer stay in step.
TEST(HostFormat, PointersAtTheHostsWidth) {
  char* page = highPage();
  ASSERT_NE(page, nullptr);
  if (sizeof(void*) == 8) {
    EXPECT_GT(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(page)), 0xFFFFFFFFull) << "no page above 4 GiB";
  }
  std::memcpy(page, "text\0\x01\x02\x03", 8);
  static const uint16_t wide[] = {0x0041, 0x0142, 0};
  EXPECT_EQ(body("%s|%d|%.8P|%n%LD|%c|%#.2s|%.1f|%ws", page, 7, page, page, -1234567LL, 'z', page, 0.25, wide),
            "text|7|74657874 00010203   text....|-1.234.567|z|\"te\"|0.3|AB");
  // The documented way to print an address whole, in either build.
  const unsigned long long address = reinterpret_cast<uintptr_t>(page);
  char expected[32];
  std::snprintf(expected, sizeof expected, "0x%llx", address);
  EXPECT_EQ(body("%#Lx", address), expected);
}

}  // namespace
