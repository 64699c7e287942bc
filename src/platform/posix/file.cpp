// Handles on files: opening with CreateFile's dispositions, access and share
// modes, reading, writing, moving the file pointer, file type, size and time,
// and deleting a file, which depends on who has it open.
#include <atomic>
#include <cerrno>
#include <climits>
#include <limits>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/handles.h"
#include "platform/posix/pipes.h"

namespace trovex::win32 {

namespace {

HandleObject standardHandles[3] = {
    {HandleKind::Std, 0, {}}, {HandleKind::Std, 1, {}}, {HandleKind::Std, 2, {}}};

// The files this process has open, for share modes. POSIX cannot keep other
// programs out of a file, so share modes hold only between these handles.
HandleObject* openFiles = nullptr;
pthread_mutex_t openFilesLock = PTHREAD_MUTEX_INITIALIZER;

// True when an open handle on the file conflicts with a new open that asks
// for `access` and lets others share `share` (FILE_SHARE_* bits). Handles that
// read and write nothing take no part. Called under openFilesLock.
bool sharingConflict(dev_t device, ino_t inode, DWORD access, DWORD share) {
  if (!(access & (GENERIC_READ | GENERIC_WRITE))) return false;
  for (const HandleObject* open = openFiles; open; open = open->nextOpen) {
    if (open->device != device || open->inode != inode) continue;
    if (!(open->access & (GENERIC_READ | GENERIC_WRITE))) continue;
    if ((access & GENERIC_READ) && !(open->shareMode & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(open->shareMode & FILE_SHARE_WRITE)) return true;
    if ((open->access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((open->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  }
  return false;
}

// Share modes between processes. Each handle on a regular file marks what it
// does with read locks of its open file description, on bytes far past any
// data: one byte for "reads", one for "writes", one for "keeps readers out"
// and one for "keeps writers out". The kernel drops them at the
// description's last close, whichever process holds it. An open places its
// own marks first and then looks for others' marks that it conflicts with:
// two opens that race see each other and both fail, never both succeed.
// The order puts the marks and the checks of the library's own modes ("w",
// "a", "r", the channel's unshared file) into one run of bytes each.
constexpr unsigned MarkReads = 0, MarkDeniesWrite = 1, MarkWrites = 2, MarkDeniesRead = 3, MarkCount = 4;
constexpr off_t ShareMarkBase = std::numeric_limits<off_t>::max() - 64;

// The marks a handle with `access` and `share` places, and the marks of
// others that keep it out, as bit sets of the Mark numbers.
unsigned marksPlaced(DWORD access, DWORD share) {
  if (!(access & (GENERIC_READ | GENERIC_WRITE))) return 0;  // takes no part
  return ((access & GENERIC_READ) ? 1u << MarkReads : 0) | ((access & GENERIC_WRITE) ? 1u << MarkWrites : 0) |
         (!(share & FILE_SHARE_READ) ? 1u << MarkDeniesRead : 0) | (!(share & FILE_SHARE_WRITE) ? 1u << MarkDeniesWrite : 0);
}
unsigned marksThatConflict(DWORD access, DWORD share) {
  if (!(access & (GENERIC_READ | GENERIC_WRITE))) return 0;
  return ((access & GENERIC_READ) ? 1u << MarkDeniesRead : 0) | ((access & GENERIC_WRITE) ? 1u << MarkDeniesWrite : 0) |
         (!(share & FILE_SHARE_READ) ? 1u << MarkReads : 0) | (!(share & FILE_SHARE_WRITE) ? 1u << MarkWrites : 0);
}

flock markRange(short type, unsigned first, unsigned count) {
  flock range{};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = ShareMarkBase + first;
  range.l_len = count;
  return range;
}

enum class Marking { Placed, Refused, Unsupported };

// Places the marks of `marks`, one lock per run of neighbours. Refused when
// another description holds one of the bytes exclusively (an unshared
// writer, below); Unsupported when the file system keeps no such locks (the
// marks then hold in this process only).
Marking placeMarks(int fd, unsigned marks) {
  for (unsigned first = 0; first < MarkCount; ++first) {
    if (!(marks & (1u << first))) continue;
    unsigned count = 1;
    while (first + count < MarkCount && (marks & (1u << (first + count)))) ++count;
    flock range = markRange(F_RDLCK, first, count);
    if (fcntl(fd, F_OFD_SETLK, &range) != 0)
      return errno == EAGAIN || errno == EACCES ? Marking::Refused : Marking::Unsupported;
    first += count;
  }
  return Marking::Placed;
}

// True when another open file description holds one of `marks`.
bool othersHold(int fd, unsigned marks) {
  if (!marks) return false;
  const unsigned first = static_cast<unsigned>(__builtin_ctz(marks));
  const unsigned last = 31u - static_cast<unsigned>(__builtin_clz(marks));
  flock probe = markRange(F_WRLCK, first, last - first + 1);
  if (fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) return false;
  // A lock on a byte of the run that is not asked about says nothing of the others.
  const unsigned heldFirst = static_cast<unsigned>(probe.l_start - ShareMarkBase);
  const unsigned heldEnd = probe.l_len == 0 ? MarkCount : heldFirst + static_cast<unsigned>(probe.l_len);
  for (unsigned mark = heldFirst; mark < heldEnd && mark < MarkCount; ++mark)
    if (marks & (1u << mark)) return true;
  for (unsigned mark = first; mark <= last; ++mark) {
    if (!(marks & (1u << mark))) continue;
    probe = markRange(F_WRLCK, mark, 1);
    if (fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
  }
  return false;
}

// A writer that shares no writing (the library's own files: unshared, or
// sharing reading only) takes its marks as one exclusive lock instead: all
// four marks without sharing, "denies write" and "writes" when sharing
// reading. The lock is refused exactly while another handle holds a mark
// that conflicts with this open (a handle that denies reading also reads or
// writes, so holds one of the others), and while held it refuses the marks
// of every handle that conflicts with it. One system call instead of two,
// on the path of every message to a file that is closed after each.
bool exclusiveMarks(DWORD access, DWORD share, flock* range) {
  if (access != GENERIC_WRITE || (share & FILE_SHARE_WRITE)) return false;
  *range = share & FILE_SHARE_READ ? markRange(F_WRLCK, MarkDeniesWrite, 2) : markRange(F_WRLCK, 0, MarkCount);
  return true;
}

// True when another process's handle on the file conflicts with this open.
// The file must be open for reading to take read locks.
bool sharingConflictElsewhere(int fd, DWORD access, DWORD share) {
  flock exclusive;
  if (exclusiveMarks(access, share, &exclusive)) {
    if (fcntl(fd, F_OFD_SETLK, &exclusive) == 0) return false;
    if (errno == EAGAIN || errno == EACCES) return true;
  }
  switch (placeMarks(fd, marksPlaced(access, share))) {
    case Marking::Refused: return true;
    case Marking::Unsupported: return false;
    case Marking::Placed: break;
  }
  return othersHold(fd, marksThatConflict(access, share));
}

// True when a handle has the file open without sharing its deletion. Called under openFilesLock.
bool deletionBlocked(dev_t device, ino_t inode) {
  for (const HandleObject* open = openFiles; open; open = open->nextOpen)
    if (open->device == device && open->inode == inode && !(open->shareMode & FILE_SHARE_DELETE)) return true;
  return false;
}

// Windows keeps even its administrator from writing a read-only file, while
// POSIX lets root write anything: read-only is checked here, not left to open().
bool isReadOnly(const struct stat& status) { return !S_ISDIR(status.st_mode) && !(status.st_mode & S_IWUSR); }

// One File object in static storage, used whenever it is free: a file
// opened and closed per message then costs no allocation and free. (Static
// rather than a kept heap block, which an unload would leak.)
HandleObject reusableFileObject;
std::atomic<bool> reusableFileObjectTaken{false};

void freeFileObject(HandleObject* object) {
  if (object == &reusableFileObject) reusableFileObjectTaken.store(false, std::memory_order_release);
  else delete object;
}

HANDLE failOpen(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HandleObject* newFileObject(int fd) {
  if (reusableFileObjectTaken.exchange(true, std::memory_order_acquire))
    return new (std::nothrow) HandleObject{HandleKind::File, fd, {}};
  reusableFileObject = HandleObject{HandleKind::File, fd, {}};
  return &reusableFileObject;
}

namespace {
// Standard handles that SetStdHandle replaced, by index; null: the process's own.
HANDLE replacedStandardHandles[3] = {};

int standardIndex(DWORD which) {
  switch (which) {
    case STD_INPUT_HANDLE: return 0;
    case STD_OUTPUT_HANDLE: return 1;
    case STD_ERROR_HANDLE: return 2;
    default: return -1;
  }
}
}  // namespace

HANDLE WINAPI GetStdHandle(DWORD which) {
  const int index = standardIndex(which);
  if (index < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  if (nullStandardHandles & (1u << index)) return nullptr;
  return replacedStandardHandles[index] ? replacedStandardHandles[index] : &standardHandles[index];
}

BOOL WINAPI SetStdHandle(DWORD which, HANDLE handle) {
  if (simShouldFail("SetStdHandle")) return FALSE;
  const int index = standardIndex(which);
  if (index < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  replacedStandardHandles[index] = handle == &standardHandles[index] ? nullptr : handle;
  return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flagsAndAttributes, HANDLE) {
  if (simShouldFail("CreateFileA")) return INVALID_HANDLE_VALUE;
  if (!name || !*name) return failOpen(ERROR_PATH_NOT_FOUND);
  if (const char* pipe = pipeNameOf(name)) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return failOpen(ERROR_INVALID_PARAMETER);
    return openPipeClient(pipe, access);
  }

  int flags = O_CLOEXEC;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
    flags |= O_RDWR;
  else if (access & GENERIC_WRITE)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: truncate = true; break;
    default: return failOpen(ERROR_INVALID_PARAMETER);
  }
  // Windows empties the file whatever the access asked for, and the
  // descriptor must be writable for that. A writer's descriptor is readable
  // too where the file allows, so that it can take the read locks that mark
  // its share mode for other processes. The handle still reads and writes
  // only as `access` says: ReadFile and WriteFile check it.
  if (truncate && !(access & GENERIC_WRITE)) flags = (flags & ~O_ACCMODE) | O_RDWR;
  const bool readableWriter = (flags & O_ACCMODE) == O_WRONLY;
  if (readableWriter) flags = (flags & ~O_ACCMODE) | O_RDWR;

  // Whether the file existed comes from the open itself, not from a look at
  // the name before it: an existing file is opened without O_CREAT first,
  // and only a missing one is created, exclusively (a file that appears in
  // between is opened on the next round). One system call fewer per open.
  const mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  const bool creates = (flags & O_CREAT) && !(flags & O_EXCL);
  bool existed = false;
  int fd;
  for (;;) {
    do fd = open(name, creates ? flags & ~O_CREAT : flags, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EACCES && readableWriter && (flags & O_ACCMODE) == O_RDWR) {
      flags = (flags & ~O_ACCMODE) | O_WRONLY;  // a file that only may be written
      continue;
    }
    if (!creates || fd >= 0 || errno != ENOENT) {
      existed = fd >= 0 && disposition != CREATE_NEW;
      break;
    }
    do fd = open(name, flags | O_EXCL, mode);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != EEXIST) break;
  }
  if (fd < 0) return failOpen(errno == ENOENT ? missingNameError(name) : win32ErrorFromErrno(errno));

  struct stat status;
  HandleObject* object = newFileObject(fd);
  if (fstat(fd, &status) != 0 || !object) {
    const DWORD error = object ? win32ErrorFromErrno(errno) : ERROR_NOT_ENOUGH_MEMORY;
    freeFileObject(object);
    close(fd);
    return failOpen(error);
  }
  // Windows opens a directory only with backup semantics, which the library
  // never asks for; and it keeps writers out of a read-only file, and does
  // not empty it, where POSIX lets root do both (a file this call created
  // read-only is writable through this handle, as on Windows).
  if (S_ISDIR(status.st_mode) || (existed && ((access & GENERIC_WRITE) || truncate) && isReadOnly(status))) {
    freeFileObject(object);
    close(fd);
    return failOpen(ERROR_ACCESS_DENIED);
  }
  object->access = access;
  object->shareMode = shareMode;
  object->device = status.st_dev;
  object->inode = status.st_ino;
  object->type = status.st_mode & S_IFMT;

  pthread_mutex_lock(&openFilesLock);
  // Checked before truncating, so a refused open leaves the file as it was.
  if (sharingConflict(status.st_dev, status.st_ino, access, shareMode) ||
      (S_ISREG(status.st_mode) && sharingConflictElsewhere(fd, access, shareMode))) {
    pthread_mutex_unlock(&openFilesLock);
    freeFileObject(object);
    close(fd);
    return failOpen(ERROR_SHARING_VIOLATION);
  }
  if (truncate && S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0) {
    pthread_mutex_unlock(&openFilesLock);
    const DWORD error = win32ErrorFromErrno(errno);
    freeFileObject(object);
    close(fd);
    return failOpen(error);
  }
  object->nextOpen = openFiles;
  openFiles = object;
  pthread_mutex_unlock(&openFilesLock);

  const bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return object;
}

void closeFileObject(HandleObject* object) {
  pthread_mutex_lock(&openFilesLock);
  for (HandleObject** link = &openFiles; *link; link = &(*link)->nextOpen)
    if (*link == object) {
      *link = object->nextOpen;
      break;
    }
  pthread_mutex_unlock(&openFilesLock);
  close(object->fd);
  freeFileObject(object);
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID data, DWORD size, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  if (simShouldFail("ReadFile")) return FALSE;
  HandleObject* object = fileLikeObject(handle);
  if (!object) return FALSE;
  if (object->kind == HandleKind::File && !(object->access & GENERIC_READ)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD wanted = size, unusedError = 0;
  simShortCall("ReadFile", size, &wanted, &unusedError);
  ssize_t n;
  do n = ::read(object->fd, data, wanted);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return FALSE;
  }
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  if (simShouldFail("WriteFile")) return FALSE;
  HandleObject* object = fileLikeObject(handle);
  if (!object) return FALSE;
  if (object->kind == HandleKind::File && !(object->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const bool pipe = object->type == S_IFSOCK;
  // A pipe connected before a fork is the parent's: the child's writes would
  // reach the server as the parent's. The child's copy fails as a pipe whose
  // server went away, so that the writer connects again, as itself.
  if (pipe && object->pipeGeneration != pipeForkGeneration()) {
    SetLastError(ERROR_NO_DATA);
    return FALSE;
  }
  DWORD shortError = 0;
  DWORD wanted = size;
  const bool endsShort = simShortCall("WriteFile", size, &wanted, &shortError);
  const char* bytes = static_cast<const char*>(data);
  const int sendFlags = MSG_NOSIGNAL | (object->pipeNoWait ? MSG_DONTWAIT : 0);
  DWORD done = 0;
  while (done < wanted) {
    ssize_t n = pipe ? send(object->fd, bytes + done, wanted - done, sendFlags)
                     : write(object->fd, bytes + done, wanted - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (pipe && object->pipeNoWait && (errno == EAGAIN || errno == EWOULDBLOCK)) break;  // full: what fitted
      SetLastError(win32ErrorFromErrno(errno));
      if (written) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  if (endsShort && shortError != 0) {
    SetLastError(shortError);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
  if (simShouldFail("SetFilePointer")) return INVALID_SET_FILE_POINTER;
  HandleObject* object = fileLikeObject(handle);
  if (!object) return INVALID_SET_FILE_POINTER;
  int64_t offset = distance;
  if (distanceHigh) offset = static_cast<int64_t>((uint64_t(uint32_t(*distanceHigh)) << 32) | uint32_t(distance));
  int64_t base = 0;
  if (method == FILE_CURRENT || method == FILE_END) {
    base = lseek(object->fd, 0, method == FILE_CURRENT ? SEEK_CUR : SEEK_END);
    if (base < 0) {
      SetLastError(win32ErrorFromErrno(errno));
      return INVALID_SET_FILE_POINTER;
    }
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const int64_t target = base + offset;
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high half the new position must fit in 32 bits.
  if (!distanceHigh && target > 0xFFFFFFFFll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  // Already there after a move by 0 from the end. (Unlike Windows, a refused
  // move to the end of a file of 4 GiB or more leaves the position there.)
  const bool there = method == FILE_END && offset == 0;
  if (!there && lseek(object->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(target >> 32);
  const DWORD low = static_cast<DWORD>(target);
  // A position whose low half looks like the failure value is told apart by the last error.
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

DWORD WINAPI GetFileType(HANDLE handle) {
  if (simShouldFail("GetFileType")) return FILE_TYPE_UNKNOWN;
  HandleObject* object = fileLikeObject(handle);
  if (!object) return FILE_TYPE_UNKNOWN;
  struct stat status;
  if (object->kind == HandleKind::File) {
    status.st_mode = object->type;  // a file opened by name keeps its type
    if (filesAsCharDevices) return FILE_TYPE_CHAR;
  } else if (fstat(object->fd, &status) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISCHR(status.st_mode)) return FILE_TYPE_CHAR;  // terminals and devices such as /dev/null
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FILE_TYPE_PIPE;
  if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode) || S_ISBLK(status.st_mode)) return FILE_TYPE_DISK;
  SetLastError(ERROR_SUCCESS);
  return FILE_TYPE_UNKNOWN;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  if (simShouldFail("GetFileSize")) return INVALID_FILE_SIZE;
  HandleObject* object = fileLikeObject(handle);
  if (!object) return INVALID_FILE_SIZE;
  struct stat status;
  if (fstat(object->fd, &status) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  const DWORD low = static_cast<DWORD>(size);
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL WINAPI SetFileTime(HANDLE handle, LPCFILETIME, LPCFILETIME access, LPCFILETIME write) {
  if (simShouldFail("SetFileTime")) return FALSE;
  HandleObject* object = fileLikeObject(handle);
  if (!object) return FALSE;
  if (object->kind == HandleKind::File && !(object->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct timespec times[2];
  times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
  times[0].tv_sec = times[1].tv_sec = 0;
  if (access) times[0] = timespecFromFileTime(access);
  if (write) times[1] = timespecFromFileTime(write);
  if (futimens(object->fd, times) != 0) {
    SetLastError(win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
  if (simShouldFail("DeleteFileA")) return FALSE;
  struct stat status;
  if (!name || lstat(name, &status) != 0) {
    SetLastError(!name ? ERROR_INVALID_PARAMETER : errno == ENOENT ? missingNameError(name) : win32ErrorFromErrno(errno));
    return FALSE;
  }
  if (S_ISDIR(status.st_mode) || isReadOnly(status)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  pthread_mutex_lock(&openFilesLock);
  const bool blocked = deletionBlocked(status.st_dev, status.st_ino);
  const int result = blocked ? 0 : unlink(name);
  const int error = errno;
  pthread_mutex_unlock(&openFilesLock);
  if (blocked || result != 0) {
    SetLastError(blocked ? ERROR_SHARING_VIOLATION : win32ErrorFromErrno(error));
    return FALSE;
  }
  return TRUE;
}

}  // namespace trovex::win32
