// Files by name: attribute bits both ways, deletion, size and last-write time.
#include "scratch.h"

namespace trovex {

namespace {

class Files : public ScratchTest {};

TEST_F(Files, AttributesOfDirectoriesAndReadOnlyFiles) {
  const int32_t directory = fileAttributes(root.c_str());
  EXPECT_EQ(directory & ~AttrArchive, static_cast<int32_t>(AttrDirectory | AttrWritable));
  const std::string name = path("file.txt");
  writeWholeFile(name, "x");
  EXPECT_EQ(fileAttributes(name.c_str()) & (AttrDirectory | AttrWritable), static_cast<int32_t>(AttrWritable));
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(fileAttributes(name.c_str()) & AttrWritable, 0);
  recordSystemError(0);
  EXPECT_EQ(fileAttributes(path("missing").c_str()), -1);
  EXPECT_EQ(errorNumber.load(), 2);
}

TEST_F(Files, SetAttributesChangesOnlyTheMaskedBits) {
  const std::string name = path("file.txt");
  writeWholeFile(name, "x");
  ASSERT_EQ(setFileAttributes(name.c_str(), AttrWritable, 0), 1);
  EXPECT_EQ(GetFileAttributesA(name.c_str()) & FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY);
  // Offline can be neither set nor cleared, and asking for it changes nothing else.
  ASSERT_EQ(setFileAttributes(name.c_str(), AttrOffline, AttrOffline), 1);
  EXPECT_EQ(fileAttributes(name.c_str()) & (AttrOffline | AttrWritable), 0);
  ASSERT_EQ(setFileAttributes(name.c_str(), AttrWritable | AttrOffline, AttrWritable), 1);
  EXPECT_EQ(GetFileAttributesA(name.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(setFileAttributes(path("missing").c_str(), AttrWritable, 0), 0);
  EXPECT_EQ(errorNumber.load(), 2);
}

#if defined(_WIN32)
// Only Windows keeps hidden and system; removing read-only must leave them.
TEST_F(Files, RemovingReadOnlyKeepsHiddenAndSystem) {
  const std::string name = path("file.txt");
  writeWholeFile(name, "x");
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_EQ(setFileAttributes(name.c_str(), AttrWritable, AttrWritable), 1);
  EXPECT_EQ(GetFileAttributesA(name.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}
#endif

TEST_F(Files, DeleteRemovesAFileAndNamesWhyItCannot) {
  const std::string name = path("file.txt");
  writeWholeFile(name, "x");
  HANDLE holder = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(deleteFile(name.c_str()), -1);
  EXPECT_EQ(errorNumber.load(), 203);
  CloseHandle(holder);
  SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(deleteFile(name.c_str()), -1);
  EXPECT_EQ(errorNumber.load(), 13);
  SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(deleteFile(name.c_str()), 0);
  EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(deleteFile(name.c_str()), -1);
  EXPECT_EQ(errorNumber.load(), 2);
  EXPECT_EQ(deleteFile(root.c_str()), -1);
  EXPECT_EQ(errorNumber.load(), 13);
}

TEST_F(Files, SizeOfDiskFilesOnly) {
  const std::string name = path("file.bin");
  writeWholeFile(name, patternBytes(12345));
  uint64_t size = 99;
  EXPECT_EQ(fileSize(name.c_str(), &size), 1);
  EXPECT_EQ(size, 12345u);
  recordSystemError(ERROR_WRITE_PROTECT);
  const std::string others[] = {root, CharDevice, path("missing")};
  for (const std::string& other : others) {
    size = 99;
    EXPECT_EQ(fileSize(other.c_str(), &size), 0) << other;
    EXPECT_EQ(size, 0u);
  }
  EXPECT_EQ(errorNumber.load(), 202);  // none of these records an error
}

TEST_F(Files, ASizeWhoseLowHalfIsAllOnesIsReal) {
  const std::string name = path("sparse.bin");
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD position = SetFilePointer(file, static_cast<LONG>(0xFFFFFFFEu), &high, FILE_BEGIN);
  DWORD written = 0;
  const bool grown = position == 0xFFFFFFFEu && WriteFile(file, "z", 1, &written, nullptr) && written == 1;
  CloseHandle(file);
  if (!grown) GTEST_SKIP() << "the file system cannot hold a sparse 4 GiB file";
  uint64_t size = 0;
  EXPECT_EQ(fileSize(name.c_str(), &size), 1);
  EXPECT_EQ(size, 0xFFFFFFFFu);
}

TEST_F(Files, LastWriteTimeRoundTripsInLocalTime) {
  const std::string name = path("file.txt");
  writeWholeFile(name, "x");
  const uint64_t then = 127600000000000000ull;  // a day in 2005, local time
  EXPECT_NE(setLastWriteTime(name.c_str(), then), 0);
  uint64_t time = 0;
  EXPECT_EQ(lastWriteTime(name.c_str(), &time), 1);
  EXPECT_EQ(time, then);
  // The file is not opened to read its time: another handle may hold it exclusively.
  HANDLE holder = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lastWriteTime(name.c_str(), &time), 1);
  EXPECT_EQ(time, then);
  EXPECT_EQ(setLastWriteTime(name.c_str(), then + 10000000), 0);
  EXPECT_EQ(errorNumber.load(), 203);
  CloseHandle(holder);

  time = 99;
  EXPECT_EQ(lastWriteTime(path("missing").c_str(), &time), 0);
  EXPECT_EQ(time, 0u);
  EXPECT_EQ(errorNumber.load(), 2);
  EXPECT_EQ(setLastWriteTime(path("missing").c_str(), then), 0);
  EXPECT_EQ(errorNumber.load(), 2);
}

}  // namespace

}  // namespace trovex
