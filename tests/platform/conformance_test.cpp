// The Win32 calls the library makes, held against the real thing in the
// manner of Wine's own conformance tests: set a sentinel last error, make the
// call, check its result and the exact error it left. The same file runs
// natively against the POSIX emulation and, in the Windows build, under Wine
// against its kernel32 and advapi32. Where the two differ the emulation is
// wrong, unless a comment here says why it cannot follow.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "another_process.h"
#include "fileio/scratch.h"
#include "platform/win32.h"
#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/pipes.h"
#endif

namespace trovex {

namespace {

constexpr DWORD Sentinel = 0xdeadbeef;

// A call's result and the last error it left, read at once: a failed
// expectation may make calls of its own that change the last error.
template <typename Result>
struct Outcome {
  Result result;
  DWORD error;
};
template <typename Call>
auto called(Call call) -> Outcome<decltype(call())> {
  SetLastError(Sentinel);
  const auto result = call();
  return {result, GetLastError()};
}

class Conformance : public ScratchTest {};

HANDLE open(const std::string& name, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

const DWORD ReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The open with the sentinel set: the handle and the last error it left.
Outcome<HANDLE> opened(const std::string& name, DWORD access, DWORD share, DWORD disposition) {
  return called([&] { return open(name, access, share, disposition); });
}

void closeIfOpen(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

// ---- CreateFileA ----

TEST_F(Conformance, CreateFileDispositions) {
  const struct {
    DWORD disposition;
    bool exists;  // the file holds "old" before the call
    DWORD access;
    bool opens;
    DWORD error;        // the last error after the call, success or not
    const char* after;  // the file afterwards
  } rows[] = {
      {CREATE_NEW, true, GENERIC_WRITE, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_NEW, false, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
      {CREATE_ALWAYS, true, GENERIC_WRITE, true, ERROR_ALREADY_EXISTS, ""},
      {CREATE_ALWAYS, false, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
      {CREATE_ALWAYS, true, GENERIC_READ, true, ERROR_ALREADY_EXISTS, ""},  // emptied without write access
      {OPEN_EXISTING, true, GENERIC_READ, true, ERROR_SUCCESS, "old"},
      {OPEN_EXISTING, false, GENERIC_READ, false, ERROR_FILE_NOT_FOUND, "<missing>"},
      {OPEN_ALWAYS, true, GENERIC_WRITE, true, ERROR_ALREADY_EXISTS, "old"},
      {OPEN_ALWAYS, false, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
      {TRUNCATE_EXISTING, true, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
      {TRUNCATE_EXISTING, true, GENERIC_READ, true, ERROR_SUCCESS, ""},
      {TRUNCATE_EXISTING, false, GENERIC_WRITE, false, ERROR_FILE_NOT_FOUND, "<missing>"},
      {0, true, GENERIC_WRITE, false, ERROR_INVALID_PARAMETER, "old"},
      {TRUNCATE_EXISTING + 1, false, GENERIC_WRITE, false, ERROR_INVALID_PARAMETER, "<missing>"},
  };
  const std::string name = path("disposition.txt");
  for (const auto& row : rows) {
    DeleteFileA(name.c_str());
    if (row.exists) writeWholeFile(name, "old");
    const auto file = opened(name, row.access, 0, row.disposition);
    closeIfOpen(file.result);
    const std::string where = std::to_string(row.disposition) + (row.exists ? " existing " : " missing ") +
                              (row.access == GENERIC_READ ? "read" : "write");
    EXPECT_EQ(file.result != INVALID_HANDLE_VALUE, row.opens) << where;
    EXPECT_EQ(file.error, row.error) << where;
    EXPECT_EQ(readWholeFile(name), row.after) << where;
  }
}

TEST_F(Conformance, CreateFileNamesThatCannotBeOpened) {
  const struct {
    std::string name;
    DWORD error;
  } rows[] = {
      {"", ERROR_PATH_NOT_FOUND},
      {path("missing/file.txt"), ERROR_PATH_NOT_FOUND},
      {path("missing.txt"), ERROR_FILE_NOT_FOUND},
      {root, ERROR_ACCESS_DENIED},  // a directory, without backup semantics
      {"\\\\.\\PIPE\\trovex-no-such-pipe", ERROR_FILE_NOT_FOUND},  // a pipe no server offers
  };
  for (const auto& row : rows) {
    const auto file = opened(row.name, GENERIC_READ, ShareAll, OPEN_EXISTING);
    closeIfOpen(file.result);
    EXPECT_EQ(file.result, INVALID_HANDLE_VALUE) << row.name;
    EXPECT_EQ(file.error, row.error) << row.name;
  }
}

// The open of another process, made by ConformanceChild below: the handle's
// fate as the child's exit status.
constexpr int OpenedElsewhere = 10, SharingViolationElsewhere = 11, OtherFailureElsewhere = 12;
const char OpenProbeVariable[] = "TROVEX_OPEN_PROBE";

int openedInAnotherProcess(const std::string& name, DWORD access, DWORD share, DWORD disposition) {
  const std::string probe =
      std::to_string(access) + " " + std::to_string(share) + " " + std::to_string(disposition) + " " + name;
  return runTestInAnotherProcess("ConformanceChild.OpensAsAnotherProcess", OpenProbeVariable, probe);
}

TEST(ConformanceChild, OpensAsAnotherProcess) {
  const char* probe = std::getenv(OpenProbeVariable);
  if (!probe) GTEST_SKIP() << "runs only as the other process of a share-mode row";
  unsigned long access = 0, share = 0, disposition = 0;
  int nameAt = 0;
  ASSERT_EQ(std::sscanf(probe, "%lu %lu %lu %n", &access, &share, &disposition, &nameAt), 3);
  const auto file = opened(probe + nameAt, DWORD(access), DWORD(share), DWORD(disposition));
  std::_Exit(file.result != INVALID_HANDLE_VALUE          ? OpenedElsewhere
             : file.error == ERROR_SHARING_VIOLATION ? SharingViolationElsewhere
                                                     : OtherFailureElsewhere);
}

// A second open while the first holds the file, in the same process and in
// another one: each side's access must be shared by the other. A refused
// open leaves the file as it was.
TEST_F(Conformance, CreateFileShareModes) {
  const struct {
    DWORD firstAccess, firstShare;
    DWORD access, share, disposition;
    bool opens;
  } rows[] = {
      // The library's "w" and "a": writing, others may read.
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, ShareAll, OPEN_EXISTING, true},
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, false},
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_WRITE, ShareAll, OPEN_EXISTING, false},
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, false},
      {GENERIC_WRITE, FILE_SHARE_READ, 0, 0, OPEN_EXISTING, true},  // no data access takes no part
      // The library's "r".
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, true},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, ShareAll, OPEN_ALWAYS, false},
      // "s" lets others write too.
      {ReadWrite, ShareAll, GENERIC_WRITE, ShareAll, OPEN_EXISTING, true},
      {ReadWrite, ShareAll, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, false},
      // Shared with nobody, as the channel's file and the time setter open it.
      {GENERIC_WRITE, 0, GENERIC_READ, ShareAll, OPEN_EXISTING, false},
      {GENERIC_READ, 0, GENERIC_READ, ShareAll, OPEN_EXISTING, false},
  };
  const std::string name = path("shared.txt");
  int index = 0;
  for (const auto& row : rows) {
    writeWholeFile(name, "held");
    HANDLE first = open(name, row.firstAccess, row.firstShare, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    const auto second = opened(name, row.access, row.share, row.disposition);
    closeIfOpen(second.result);
    CloseHandle(first);
    EXPECT_EQ(second.result != INVALID_HANDLE_VALUE, row.opens) << "row " << index;
    EXPECT_EQ(second.error, row.opens ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION) << "row " << index;
    EXPECT_EQ(readWholeFile(name), "held") << "row " << index;
    first = open(name, row.firstAccess, row.firstShare, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openedInAnotherProcess(name, row.access, row.share, row.disposition),
              row.opens ? OpenedElsewhere : SharingViolationElsewhere)
        << "row " << index << " from another process";
    CloseHandle(first);
    EXPECT_EQ(readWholeFile(name), "held") << "row " << index << " from another process";
    // Once the first is closed, the second opens.
    HANDLE again = open(name, row.access, row.share, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "row " << index;
    closeIfOpen(again);
    ++index;
  }
}

#if !defined(_WIN32)
// The folder of the emulation's pipes keeps every other user out: one that
// others may enter, or a link, is refused.
TEST_F(Conformance, ThePipeFolderMustBeTheUsersAlone) {
  const struct {
    const char* name;
    unsigned mode;
    bool link;
    bool accepted;
  } rows[] = {{"private", 0700, false, true}, {"readable", 0750, false, false}, {"enterable", 0701, false, false},
              {"open", 0777, false, false}, {"a link to a private one", 0700, true, false}};
  for (const auto& row : rows) {
    const std::string folder = path(row.name);
    ASSERT_EQ(mkdir(folder.c_str(), row.mode), 0);
    chmod(folder.c_str(), row.mode);
    const std::string looked = row.link ? path("link") : folder;
    if (row.link) {
      ASSERT_EQ(symlink(folder.c_str(), looked.c_str()), 0);
    }
    errno = 0;
    EXPECT_EQ(isPrivateFolder(looked.c_str()), row.accepted) << row.name;
    EXPECT_EQ(errno, row.accepted ? 0 : EACCES) << row.name;
    if (row.link) unlink(looked.c_str());
  }
}

// A server that stopped taking connections, its queue of them full: the
// open fails at once with ERROR_PIPE_BUSY, as for a pipe whose instances are
// all taken, instead of waiting for the server. The opens run on a thread of
// their own, so that one that waits is ended by the server's close (and then
// fails otherwise) rather than holding the test.
TEST_F(Conformance, APipeWhoseServerTakesNoMoreConnectionsIsBusy) {
  const std::string name = "trovex-test-busy-" + std::to_string(getpid());
  const std::string pipe = "\\\\.\\pipe\\" + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_TRUE(securePipeFolder(true));
  ASSERT_TRUE(pipeSocketPath(name.c_str(), address.sun_path, sizeof address.sun_path));
  const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(server, 0);
  ASSERT_EQ(bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << errno;
  ASSERT_EQ(listen(server, 0), 0);  // room for about one connection, never accepted
  std::vector<HANDLE> queued;
  std::atomic<DWORD> busy{0};
  std::atomic<bool> done{false};
  std::thread client([&] {
    for (int i = 0; i < 64 && !busy; ++i) {
      const auto opened = called([&] { return open(pipe, GENERIC_WRITE, 0, OPEN_EXISTING); });
      if (opened.result != INVALID_HANDLE_VALUE) queued.push_back(opened.result);
      else busy = opened.error;
    }
    done = true;
  });
  for (int i = 0; i < 1000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  close(server);  // ends an open that waits
  client.join();
  unlink(address.sun_path);
  for (HANDLE handle : queued) CloseHandle(handle);
  EXPECT_EQ(busy.load(), DWORD(ERROR_PIPE_BUSY)) << "after " << queued.size() << " queued connections";
  EXPECT_FALSE(queued.empty()) << "the queue takes a connection before it is full";
}
#endif

// ---- DeleteFileA ----

TEST_F(Conformance, DeleteFileOfOpenMissingAndReadOnlyFiles) {
  const std::string name = path("delete.txt");
  writeWholeFile(name, "x");
  HANDLE held = open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto refused = called([&] { return DeleteFileA(name.c_str()); });
  CloseHandle(held);
  EXPECT_FALSE(refused.result);
  EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(readWholeFile(name), "x");

  // Held by a handle that shares deletion: the delete succeeds, and the file
  // is gone once the handle is closed. In between Wine keeps the name (a
  // second open and a second delete succeed) while the emulation has removed
  // it, as Windows 10 and later do with their POSIX delete semantics; the
  // library never shares deletion, so it never meets that state.
  held = open(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto shared = called([&] { return DeleteFileA(name.c_str()); });
  CloseHandle(held);
  EXPECT_TRUE(shared.result);
  EXPECT_EQ(shared.error, Sentinel);
  EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES) << "gone once closed";

  const struct {
    std::string name;
    DWORD error;
  } rows[] = {
      {path("delete.txt"), ERROR_FILE_NOT_FOUND},
      {path("missing/delete.txt"), ERROR_PATH_NOT_FOUND},
      {root, ERROR_ACCESS_DENIED},  // a directory
  };
  for (const auto& row : rows) {
    const auto deleted = called([&] { return DeleteFileA(row.name.c_str()); });
    EXPECT_FALSE(deleted.result) << row.name;
    EXPECT_EQ(deleted.error, row.error) << row.name;
  }

  writeWholeFile(name, "kept");
  ASSERT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY));
  const auto readOnly = called([&] { return DeleteFileA(name.c_str()); });
  EXPECT_FALSE(readOnly.result);
  EXPECT_EQ(readOnly.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(readWholeFile(name), "kept");
}

// ---- SetFilePointer, ReadFile, WriteFile ----

DWORD position(HANDLE file) { return SetFilePointer(file, 0, nullptr, FILE_CURRENT); }

TEST_F(Conformance, SetFilePointerPastTheEndAndBeforeTheStart) {
  const std::string name = path("pointer.bin");
  writeWholeFile(name, "0123456789");
  HANDLE file = open(name, ReadWrite, 0, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);

  // Past the end: allowed; the file grows only when written there.
  const auto past = called([&] { return SetFilePointer(file, 20, nullptr, FILE_BEGIN); });
  EXPECT_EQ(past.result, 20u);
  EXPECT_EQ(past.error, Sentinel);
  EXPECT_EQ(GetFileSize(file, nullptr), 10u);
  char buffer[8];
  DWORD count = 99;
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(WriteFile(file, "x", 1, &count, nullptr));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(GetFileSize(file, nullptr), 21u);

  // Before the start: refused, and the position stays.
  const struct {
    LONG distance;
    DWORD method;
    DWORD error;
  } refused[] = {
      {-1, FILE_BEGIN, ERROR_NEGATIVE_SEEK},
      {-22, FILE_CURRENT, ERROR_NEGATIVE_SEEK},
      {-22, FILE_END, ERROR_NEGATIVE_SEEK},
      {0, 3, ERROR_INVALID_PARAMETER},  // no such method
  };
  for (const auto& row : refused) {
    const auto moved = called([&] { return SetFilePointer(file, row.distance, nullptr, row.method); });
    EXPECT_EQ(moved.result, INVALID_SET_FILE_POINTER) << row.distance;
    EXPECT_EQ(moved.error, row.error) << row.distance;
    EXPECT_EQ(position(file), 21u) << row.distance;
  }

  EXPECT_EQ(SetFilePointer(file, -21, nullptr, FILE_END), 0u);
  EXPECT_EQ(SetFilePointer(file, 5, nullptr, FILE_CURRENT), 5u);
  LONG high = -1;  // a 64-bit move of -1 from the end
  EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_END), 20u);
  EXPECT_EQ(high, 0);
  CloseHandle(file);
  EXPECT_EQ(readWholeFile(name), std::string("0123456789") + std::string(10, '\0') + "x") << "the gap reads as zeros";

  const auto noHandle = called([] { return SetFilePointer(nullptr, 0, nullptr, FILE_BEGIN); });
  EXPECT_EQ(noHandle.result, INVALID_SET_FILE_POINTER);
  EXPECT_EQ(noHandle.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Conformance, ReadAndWriteAtTheEndAndWithoutAccess) {
  const std::string name = path("ends.txt");
  writeWholeFile(name, "abc");
  HANDLE reader = open(name, GENERIC_READ, ShareAll, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  char buffer[16];
  DWORD count = 99;
  EXPECT_TRUE(ReadFile(reader, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 3u);
  count = 99;
  const auto atEnd = called([&] { return ReadFile(reader, buffer, sizeof buffer, &count, nullptr); });
  EXPECT_TRUE(atEnd.result) << "the end is no failure";
  EXPECT_EQ(atEnd.error, Sentinel);
  EXPECT_EQ(count, 0u);
  count = 99;
  const auto writeToReader = called([&] { return WriteFile(reader, "x", 1, &count, nullptr); });
  EXPECT_FALSE(writeToReader.result);
  EXPECT_EQ(writeToReader.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(count, 0u);

  HANDLE writer = open(name, GENERIC_WRITE, ShareAll, OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  count = 99;
  const auto readFromWriter = called([&] { return ReadFile(writer, buffer, sizeof buffer, &count, nullptr); });
  EXPECT_FALSE(readFromWriter.result);
  EXPECT_EQ(readFromWriter.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(SetFilePointer(writer, 0, nullptr, FILE_END), 3u);
  count = 99;
  EXPECT_TRUE(WriteFile(writer, "de", 0, &count, nullptr)) << "a write of nothing";
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(WriteFile(writer, "de", 2, &count, nullptr));
  EXPECT_EQ(count, 2u);
  CloseHandle(writer);
  EXPECT_TRUE(ReadFile(reader, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "de") << "the reader sees what was added after its end";
  CloseHandle(reader);

  const auto readNothing = called([&] { return ReadFile(nullptr, buffer, sizeof buffer, &count, nullptr); });
  EXPECT_FALSE(readNothing.result);
  EXPECT_EQ(readNothing.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  const auto writeNothing = called([&] { return WriteFile(nullptr, "x", 1, &count, nullptr); });
  EXPECT_FALSE(writeNothing.result);
  EXPECT_EQ(writeNothing.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---- Handles and names ----

TEST_F(Conformance, GetFileTypeOfDisksDevicesAndNoHandle) {
  const std::string name = path("type.txt");
  writeWholeFile(name, "x");
  HANDLE file = open(name, GENERIC_READ, ShareAll, OPEN_EXISTING);
  HANDLE device = CreateFileA(CharDevice, GENERIC_WRITE, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  const auto disk = called([&] { return GetFileType(file); });
  const auto character = called([&] { return GetFileType(device); });
  const auto none = called([] { return GetFileType(nullptr); });
  CloseHandle(device);
  CloseHandle(file);
  EXPECT_EQ(disk.result, static_cast<DWORD>(FILE_TYPE_DISK));
  EXPECT_EQ(disk.error, Sentinel);
  EXPECT_EQ(character.result, static_cast<DWORD>(FILE_TYPE_CHAR));
  EXPECT_EQ(character.error, Sentinel);
  EXPECT_EQ(none.result, static_cast<DWORD>(FILE_TYPE_UNKNOWN));
  EXPECT_EQ(none.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));

  const auto closed = called([] { return CloseHandle(nullptr); });
  EXPECT_FALSE(closed.result);
  EXPECT_EQ(closed.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The directory queries with a buffer too small: the size needed, counting
// the terminator, and the buffer untouched. (The library calls these two;
// GetFullPathNameA it does not.)
TEST_F(Conformance, DirectoryQueriesWithShortBuffers) {
  using Query = DWORD(WINAPI*)(DWORD, LPSTR);
  const struct {
    const char* name;
    Query query;
  } rows[] = {{"GetTempPathA", GetTempPathA}, {"GetCurrentDirectoryA", GetCurrentDirectoryA}};
  for (const auto& row : rows) {
    char full[MAX_PATH + 1];
    const DWORD length = row.query(sizeof full, full);
    ASSERT_GT(length, 0u) << row.name;
    ASSERT_LT(length, sizeof full) << row.name;
    EXPECT_EQ(std::string(full).size(), length) << row.name;
    const auto sizeOnly = called([&] { return row.query(0, nullptr); });
    EXPECT_EQ(sizeOnly.result, length + 1) << row.name;
    EXPECT_EQ(sizeOnly.error, Sentinel) << row.name;
    for (DWORD size : {DWORD{1}, length}) {
      std::string buffer(length + 1, '#');
      EXPECT_EQ(row.query(size, &buffer[0]), length + 1) << row.name << " in " << size;
      EXPECT_EQ(buffer, std::string(length + 1, '#')) << row.name << " in " << size;
    }
    std::string buffer(length + 1, '#');
    const auto fits = called([&] { return row.query(length + 1, &buffer[0]); });
    EXPECT_EQ(fits.result, length) << row.name;
    EXPECT_EQ(fits.error, Sentinel) << row.name;
    EXPECT_STREQ(buffer.c_str(), full) << row.name;
  }
  char temp[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  ASSERT_GT(length, 0u);
  EXPECT_TRUE(temp[length - 1] == '\\' || temp[length - 1] == '/') << "the temporary path ends with a separator";
}

TEST_F(Conformance, AttributesOfFilesDirectoriesAndMissingNames) {
  const std::string name = path("attributes.txt");
  writeWholeFile(name, "x");
  const DWORD kinds = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
  const auto directory = called([&] { return GetFileAttributesA(root.c_str()); });
  EXPECT_EQ(directory.result & kinds, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(directory.error, Sentinel);
  EXPECT_EQ(GetFileAttributesA(name.c_str()) & kinds, 0u);
  const auto set = called([&] { return SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY); });
  EXPECT_TRUE(set.result);
  EXPECT_EQ(set.error, Sentinel);
  EXPECT_EQ(GetFileAttributesA(name.c_str()) & kinds, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(name.c_str()) & kinds, 0u);

  const struct {
    std::string name;
    DWORD error;
  } rows[] = {{path("missing.txt"), ERROR_FILE_NOT_FOUND}, {path("missing/x.txt"), ERROR_PATH_NOT_FOUND}};
  for (const auto& row : rows) {
    const auto get = called([&] { return GetFileAttributesA(row.name.c_str()); });
    EXPECT_EQ(get.result, INVALID_FILE_ATTRIBUTES) << row.name;
    EXPECT_EQ(get.error, row.error) << row.name;
    const auto change = called([&] { return SetFileAttributesA(row.name.c_str(), FILE_ATTRIBUTE_NORMAL); });
    EXPECT_FALSE(change.result) << row.name;
    EXPECT_EQ(change.error, row.error) << row.name;
    WIN32_FIND_DATAA data;
    const auto find = called([&] { return FindFirstFileA(row.name.c_str(), &data); });
    EXPECT_EQ(find.result, INVALID_HANDLE_VALUE) << row.name;
    EXPECT_EQ(find.error, row.error) << row.name;
  }

  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(name.c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "attributes.txt");
  EXPECT_EQ(data.nFileSizeLow, 1u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_TRUE(FindClose(find));
}

// The opens behind the library's copy: onto the source itself, and onto a
// read-only file. (The library copies through its own streams, not with
// CopyFileA.)
TEST_F(Conformance, TheCopysOpensOntoItselfAndOntoAReadOnlyFile) {
  const std::string name = path("copy.txt");
  writeWholeFile(name, "source");
  HANDLE source = open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(source, INVALID_HANDLE_VALUE);
  const auto ontoItself = opened(name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
  closeIfOpen(ontoItself.result);
  CloseHandle(source);
  EXPECT_EQ(ontoItself.result, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ontoItself.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(readWholeFile(name), "source") << "not emptied";

  // Wine running as root leaves read-only to the file's permissions, which
  // root passes; Windows, and the emulation after it, keep writers out.
  if (!readOnlyIsEnforced(path("probe"))) GTEST_SKIP() << "read-only is not enforced here";
  const std::string locked = path("locked.txt");
  writeWholeFile(locked, "old");
  ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
  const struct {
    DWORD access, disposition;
  } refused[] = {
      {GENERIC_WRITE, CREATE_ALWAYS}, {GENERIC_WRITE, OPEN_ALWAYS},      {GENERIC_WRITE, OPEN_EXISTING},
      {GENERIC_READ, CREATE_ALWAYS},  {GENERIC_READ, TRUNCATE_EXISTING},  // emptying is writing
  };
  for (const auto& row : refused) {
    const auto writer = opened(locked, row.access, FILE_SHARE_READ, row.disposition);
    closeIfOpen(writer.result);
    EXPECT_EQ(writer.result, INVALID_HANDLE_VALUE) << row.disposition;
    EXPECT_EQ(writer.error, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << row.disposition;
  }
  EXPECT_EQ(readWholeFile(locked), "old");
  HANDLE reader = open(locked, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "reading is allowed";
  closeIfOpen(reader);
}

TEST_F(Conformance, SetFileTimeChangesTheLastWriteTime) {
  const std::string name = path("time.txt");
  writeWholeFile(name, "x");
  const FILETIME then = {0x2A69C000u, 0x01C5C2A8u};  // a day in 2005
  HANDLE writer = open(name, GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const auto set = called([&] { return SetFileTime(writer, nullptr, nullptr, &then); });
  CloseHandle(writer);
  EXPECT_TRUE(set.result);
  EXPECT_EQ(set.error, Sentinel);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(name.c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, then.dwHighDateTime);
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, then.dwLowDateTime);

#if !defined(_WIN32)
  // Windows asks for the right to write attributes, which a handle opened for
  // reading lacks; Wine 8 lets the change through. The emulation keeps to
  // Windows, the platform the library ships for (its own setter opens the
  // file for writing).
  HANDLE reader = open(name, GENERIC_READ, ShareAll, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  const auto readOnly = called([&] { return SetFileTime(reader, nullptr, nullptr, &then); });
  CloseHandle(reader);
  EXPECT_FALSE(readOnly.result);
  EXPECT_EQ(readOnly.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
#endif
}

// Each thread has its own last error. Nothing but atomics runs between the
// sets and the reads: starting and joining a thread may set the last error.
TEST(ConformanceThreads, TheLastErrorBelongsToEachThread) {
  std::atomic<int> step{0};
  DWORD otherSaw = 0;
  std::thread other([&] {
    while (step.load() != 1) {
    }
    SetLastError(2);
    step = 2;
    while (step.load() != 3) {
    }
    otherSaw = GetLastError();
  });
  SetLastError(1);
  step = 1;
  while (step.load() != 2) {
  }
  const DWORD mainSaw = GetLastError();
  step = 3;
  other.join();
  EXPECT_EQ(mainSaw, 1u);
  EXPECT_EQ(otherSaw, 2u);
}

// ---- Registry values ----

TEST(ConformanceRegistry, ValueTypesAndSizes) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "trovex-conformance", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const BYTE binary[] = {1, 0, 2};
  const DWORD number = 0x12345678;
  const struct {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size;         // given to RegSetValueExA
    DWORD stored;       // the size a query reports
    const char* reads;  // a query into a roomy buffer of '#': `stored` bytes and the one after
  } rows[] = {
      {"counted", REG_SZ, "abc", 4, 4, "abc\0#"},
      {"uncounted", REG_SZ, "abc", 3, 4, "abc\0#"},     // the terminator after it is counted for the caller
      {"unterminated", REG_SZ, "abcd", 3, 3, "abc\0"},  // a query ends it where there is room
      {"empty", REG_SZ, "", 0, 0, "#"},
      {"number", REG_DWORD, &number, 4, 4, "\x78\x56\x34\x12#"},
      {"binary", REG_BINARY, binary, 3, 3, "\x01\x00\x02#"},
      {"nothing", REG_BINARY, binary, 0, 0, "#"},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(RegSetValueExA(key, row.name, 0, row.type, static_cast<const BYTE*>(row.data), row.size), ERROR_SUCCESS)
        << row.name;
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, row.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS) << row.name;
    EXPECT_EQ(type, row.type) << row.name;
    EXPECT_EQ(size, row.stored) << row.name;
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, row.name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS)
        << row.name;
    EXPECT_EQ(size, row.stored) << row.name;
    EXPECT_EQ(std::string(buffer, row.stored + 1), std::string(row.reads, row.stored + 1)) << row.name;
  }

  DWORD value = 0, size = 2, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "number", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  char text[8];
  size = 3;  // the string without room for its terminator
  EXPECT_EQ(RegQueryValueExA(key, "counted", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(RegQueryValueExA(key, "NUMBER", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS) << "names ignore case";
  EXPECT_EQ(RegQueryValueExA(key, "number", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), nullptr),
            ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegSetValueExA(key, "number", 0, REG_SZ, reinterpret_cast<const BYTE*>("7"), 2), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "number", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << "a value set again takes the new type";
  size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "trovex-conformance"), ERROR_SUCCESS);
}

// ---- Critical sections ----

// The owner enters again; a second thread waits until the owner has left as
// often as it entered. (The pauses only give a wrong lock its chance to let
// the other thread in early; the test passes or fails the same without them.)
TEST(ConformanceSync, CriticalSectionReentryAndAWaitingThread) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  std::atomic<bool> arrived{false}, entered{false};
  std::thread other([&] {
    arrived = true;
    EnterCriticalSection(&section);
    entered = true;
    LeaveCriticalSection(&section);
  });
  while (!arrived) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered) << "held twice";
  LeaveCriticalSection(&section);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered) << "still held once";
  LeaveCriticalSection(&section);
  other.join();
  EXPECT_TRUE(entered);
  EXPECT_EQ(section.RecursionCount, 0);
  DeleteCriticalSection(&section);

  // Initialised again after a delete, as a reload of the library does.
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

// A second thread's try while the section is held fails and takes nothing;
// once the owner has left, it succeeds.
TEST(ConformanceSync, TryEnterWhileAnotherThreadHoldsTheSection) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_EQ(TryEnterCriticalSection(&section), TRUE) << "the owner enters again";
  std::thread([&] { EXPECT_EQ(TryEnterCriticalSection(&section), FALSE); }).join();
  EXPECT_EQ(section.RecursionCount, 2);
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  std::thread([&] {
    EXPECT_EQ(TryEnterCriticalSection(&section), TRUE);
    EXPECT_EQ(section.RecursionCount, 1);
    LeaveCriticalSection(&section);
  }).join();
  DeleteCriticalSection(&section);
}

// Four threads contend for a section and each enters again inside, as a
// message does when the host's callback emits one: each finds the count of
// entries as it left it, which the owner before it wrote before it let go.
TEST(ConformanceSync, ASectionUnderFourThreads) {
  constexpr int Threads = 4, Rounds = 5000;
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  std::atomic<int> wrongCounts{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t)
    threads.emplace_back([&] {
      for (int round = 0; round < Rounds; ++round) {
        EnterCriticalSection(&section);
        if (section.RecursionCount != 1) ++wrongCounts;
        EnterCriticalSection(&section);
        if (section.RecursionCount != 2) ++wrongCounts;
        LeaveCriticalSection(&section);
        if (section.RecursionCount != 1) ++wrongCounts;
        LeaveCriticalSection(&section);
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrongCounts.load(), 0);
  EXPECT_EQ(section.RecursionCount, 0);
  DeleteCriticalSection(&section);
}

// ---- Named mutexes ----

constexpr int MutexTakenElsewhere = 10, MutexTimedOutElsewhere = 11, MutexFailedElsewhere = 12;
const char MutexProbeVariable[] = "TROVEX_MUTEX_PROBE";

// Another process opens the mutex: "take" takes it and ends without letting
// go; "try" waits 50 ms for it and lets go. The outcome is its exit status.
int mutexInAnotherProcess(const std::string& how, const std::string& name) {
  return runTestInAnotherProcess("ConformanceChild.UsesAMutexAsAnotherProcess", MutexProbeVariable, how + " " + name);
}

TEST(ConformanceChild, UsesAMutexAsAnotherProcess) {
  const char* probe = std::getenv(MutexProbeVariable);
  if (!probe) GTEST_SKIP() << "runs only as the other process of a named-mutex test";
  const char* space = std::strchr(probe, ' ');
  if (!space) std::_Exit(MutexFailedElsewhere);
  const std::string how(probe, static_cast<size_t>(space - probe));
  HANDLE mutex = CreateMutexA(nullptr, FALSE, space + 1);
  if (!mutex) std::_Exit(MutexFailedElsewhere);
  const DWORD waited = WaitForSingleObject(mutex, how == "take" ? INFINITE : 50);
  if (waited == WAIT_OBJECT_0 && how == "try") ReleaseMutex(mutex);
  std::_Exit(waited == WAIT_OBJECT_0 ? MutexTakenElsewhere
             : waited == WAIT_TIMEOUT ? MutexTimedOutElsewhere
                                      : MutexFailedElsewhere);
}

// Two handles of one name are one mutex, which its owning thread takes again
// and only it lets go; another thread and another process wait for it; one
// that ends holding it leaves it abandoned to the next waiter.
TEST(ConformanceSync, ANamedMutexBetweenThreadsAndProcesses) {
  const std::string name =
      "Local\\trovex-test-mutex-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  const auto first = called([&] { return CreateMutexA(nullptr, FALSE, name.c_str()); });
  ASSERT_NE(first.result, nullptr);
  EXPECT_EQ(first.error, DWORD(ERROR_SUCCESS));
  const auto second = called([&] { return CreateMutexA(nullptr, FALSE, name.c_str()); });
  ASSERT_NE(second.result, nullptr);
  EXPECT_EQ(second.error, DWORD(ERROR_ALREADY_EXISTS));

  EXPECT_EQ(WaitForSingleObject(first.result, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second.result, 0), WAIT_OBJECT_0) << "the owner takes it again";
  std::thread([&] {
    EXPECT_EQ(WaitForSingleObject(second.result, 20), WAIT_TIMEOUT);
    const auto released = called([&] { return ReleaseMutex(first.result); });
    EXPECT_EQ(released.result, FALSE) << "only the owner lets go";
    EXPECT_EQ(released.error, DWORD(ERROR_NOT_OWNER));
  }).join();
  EXPECT_EQ(mutexInAnotherProcess("try", name), MutexTimedOutElsewhere);
  EXPECT_EQ(ReleaseMutex(first.result), TRUE);
  std::thread([&] { EXPECT_EQ(WaitForSingleObject(first.result, 0), WAIT_TIMEOUT) << "still held once"; }).join();
  EXPECT_EQ(ReleaseMutex(second.result), TRUE);
  const auto unowned = called([&] { return ReleaseMutex(second.result); });
  EXPECT_EQ(unowned.result, FALSE);
  EXPECT_EQ(unowned.error, DWORD(ERROR_NOT_OWNER));
  EXPECT_EQ(mutexInAnotherProcess("try", name), MutexTakenElsewhere);

  // A waiter sleeps until the owner lets go, then owns it.
  ASSERT_EQ(WaitForSingleObject(first.result, INFINITE), WAIT_OBJECT_0);
  std::atomic<bool> taken{false};
  std::thread waiter([&] {
    EXPECT_EQ(WaitForSingleObject(second.result, 10000), WAIT_OBJECT_0);
    taken = true;
    ReleaseMutex(second.result);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(taken);
  ReleaseMutex(first.result);
  waiter.join();
  EXPECT_TRUE(taken);

  EXPECT_EQ(mutexInAnotherProcess("take", name), MutexTakenElsewhere);
  EXPECT_EQ(WaitForSingleObject(first.result, 10000), WAIT_ABANDONED) << "its owner ended holding it";
  EXPECT_EQ(WaitForSingleObject(first.result, 0), WAIT_OBJECT_0) << "and it works on";
  EXPECT_EQ(ReleaseMutex(first.result), TRUE);
  EXPECT_EQ(ReleaseMutex(first.result), TRUE);
#if !defined(_WIN32)
  // A forked child's thread is a thread of its own: it takes and lets go
  // of the mutex its parent's thread has let go before.
  const pid_t child = fork();
  if (child == 0)
    std::_Exit(WaitForSingleObject(first.result, 1000) == WAIT_OBJECT_0 && ReleaseMutex(first.result) ? 0 : 1);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child let go of the mutex";
  EXPECT_EQ(WaitForSingleObject(first.result, 0), WAIT_OBJECT_0) << "and left it free";
  EXPECT_EQ(ReleaseMutex(first.result), TRUE);
#endif
  EXPECT_EQ(CloseHandle(first.result), TRUE);
  EXPECT_EQ(CloseHandle(second.result), TRUE);
#if !defined(_WIN32)
  char path[512];
  ASSERT_TRUE(win32::sharedFilePath(("mutex-" + name.substr(6)).c_str(), path, sizeof path));
  EXPECT_EQ(unlink(path), 0) << "the mutex lives in the pipe folder";
#endif
}

}  // namespace

}  // namespace trovex
