#include "scratch.h"

#include <atomic>
#include <chrono>
#include <filesystem>

namespace trovex {

namespace fs = std::filesystem;

void ScratchTest::SetUp() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    const std::string name = "trovex-fileio-" + std::to_string(stamp) + "-" + std::to_string(counter++);
    std::error_code error;
    if (fs::create_directory(base / name, error)) {
      root = (base / name).string();
      break;
    }
    ASSERT_FALSE(error) << error.message();
  }
}

void ScratchTest::TearDown() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root, error))
    SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
  fs::remove_all(root, error);
  EXPECT_FALSE(error) << error.message();
}

std::string ScratchTest::path(const std::string& name) const { return (fs::path(root) / name).string(); }

void writeWholeFile(const std::string& name, const std::string& content) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  EXPECT_EQ(written, content.size());
  CloseHandle(file);
}

std::string readWholeFile(const std::string& name) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string content;
  std::string chunk(65536, '\0');
  DWORD read = 0;
  while (ReadFile(file, &chunk[0], static_cast<DWORD>(chunk.size()), &read, nullptr) && read > 0)
    content.append(chunk, 0, read);
  CloseHandle(file);
  return content;
}

std::string patternBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

bool readOnlyIsEnforced(const std::string& scratchFile) {
  writeWholeFile(scratchFile, "x");
  SetFileAttributesA(scratchFile.c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE file = CreateFileA(scratchFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool enforced = file == INVALID_HANDLE_VALUE;
  if (!enforced) CloseHandle(file);
  SetFileAttributesA(scratchFile.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(scratchFile.c_str());
  return enforced;
}

}  // namespace trovex
