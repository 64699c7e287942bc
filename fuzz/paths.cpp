// libFuzzer target for joining a name onto a directory and for comparing
// names as the file system does (letters folded on Windows, bytes elsewhere). Input: one byte choosing the
// directory buffer's size (1 to 256), the directory, a zero byte, the name,
// a zero byte, a second name for the comparison. Every text sits in an
// allocation of exactly its length plus the terminator, and the directory in
// one of exactly the chosen size, so AddressSanitizer sees any access past
// them. Joining must give the plain concatenation rule or leave the buffer
// as it was; comparing must agree with a letter-by-letter reference.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fileio/fileio.h"
#include "platform/paths.h"

using namespace trovex;

namespace {

// A zero-terminated copy in a block of exactly length + 1 bytes.
char* exactCopy(const uint8_t* bytes, size_t length) {
  char* text = static_cast<char*>(std::malloc(length + 1));
  if (length) std::memcpy(text, bytes, length);
  text[length] = '\0';
  return text;
}

// Takes the bytes up to the next zero byte (or the end) and moves past it.
char* takeText(const uint8_t** data, const uint8_t* end) {
  const uint8_t* start = *data;
  const uint8_t* stop = start;
  while (stop < end && *stop != 0) ++stop;
  *data = stop < end ? stop + 1 : end;
  return exactCopy(start, stop - start);
}

// Where names ignore case, the Windows-1252 capital of a letter: ASCII, and
// the Latin-1 small letters except the division sign and y with diaeresis,
// whose capital is outside Latin-1. Elsewhere the byte itself.
unsigned capital(unsigned char c) {
  if (!NamesIgnoreCase) return c;
  if (c >= 'a' && c <= 'z') return c - ('a' - 'A');
  if (c >= 0xE0 && c != 0xF7 && c != 0xFF) return c - 0x20u;
  return c;
}

int sign(int value) { return (value > 0) - (value < 0); }

int referenceCompare(const char* first, const char* second) {
  size_t i = 0;
  while (first[i] && capital(first[i]) == capital(second[i])) ++i;
  return sign(static_cast<int>(capital(first[i])) - static_cast<int>(capital(second[i])));
}

std::string referenceJoin(const std::string& directory, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  if (directory.empty() || directory.back() == '/') return directory + name;
  return directory + '/' + name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t bufferSize = data[0] + 1u;
  const uint8_t* next = data + 1;
  const uint8_t* end = data + size;
  char* directory = takeText(&next, end);
  char* name = takeText(&next, end);
  char* other = takeText(&next, end);

  // The directory as the caller holds it: cut to fit its buffer.
  std::string before(directory, std::min<size_t>(std::strlen(directory), bufferSize - 1));
  char* buffer = static_cast<char*>(std::malloc(bufferSize));
  std::memcpy(buffer, before.c_str(), before.size() + 1);
  const std::string expected = referenceJoin(before, name);
  const int joined = joinPath(buffer, name, bufferSize);
  if (expected.size() < bufferSize) {
    if (joined != 1 || expected != buffer) __builtin_trap();
  } else if (joined != 0 || before != buffer) {
    __builtin_trap();
  }

  const int order = sign(compareNames(name, other));
  if (order != referenceCompare(name, other) || order != -sign(compareNames(other, name))) __builtin_trap();
  if (compareNames(name, name) != 0) __builtin_trap();

  std::free(buffer);
  std::free(other);
  std::free(name);
  std::free(directory);
  return 0;
}
