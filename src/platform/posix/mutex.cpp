// Named mutexes between processes: a robust, process-shared, recursive POSIX
// mutex in a small file of the pipe folder, mapped by every handle on it.
// Waiters sleep in the kernel and are woken when the owner lets go, so that
// processes that take turns at a file take them by waiting, not by polling;
// a process that dies holding the mutex leaves it abandoned (the next waiter
// gets WAIT_ABANDONED and owns it), as on Windows.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "platform/posix/handles.h"
#include "platform/posix/pipes.h"

namespace trovex::win32 {

namespace {

constexpr char MutexFilePrefix[] = "mutex-";

// The process's mutex handles, as open files are kept: a handle whose close
// failed stays known to the process, as it does on Windows.
HandleObject* openMutexes = nullptr;
pthread_mutex_t openMutexesLock = PTHREAD_MUTEX_INITIALIZER;

HANDLE failCreate(DWORD error) {
  SetLastError(error);
  return nullptr;
}

// The mutex's file name: the prefix, then the name with "Local\" or
// "Global\" left out and every "/" and "\" made a "-".
bool mutexFileName(const char* name, char* file, size_t size) {
  if (std::strncmp(name, "Local\\", 6) == 0) name += 6;
  else if (std::strncmp(name, "Global\\", 7) == 0) name += 7;
  const size_t length = std::strlen(name);
  if (length == 0 || length + sizeof MutexFilePrefix > size) return false;
  std::memcpy(file, MutexFilePrefix, sizeof MutexFilePrefix - 1);
  for (size_t i = 0; i <= length; ++i)
    file[sizeof MutexFilePrefix - 1 + i] = name[i] == '/' || name[i] == '\\' ? '-' : name[i];
  return true;
}

pthread_mutex_t* mapMutex(int fd) {
  void* mapping = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return mapping == MAP_FAILED ? nullptr : static_cast<pthread_mutex_t*>(mapping);
}

// Makes the mutex's file whole before anyone can open it: it is set up under
// a name of this thread's own and then linked to its real name, which fails
// when another process was first (its file is then used).
bool createMutexFile(const char* path) {
  char draft[PATH_MAX];
  if (std::snprintf(draft, sizeof draft, "%s.%ld.%lx", path, static_cast<long>(getpid()),
                    static_cast<unsigned long>(pthread_self())) >= static_cast<int>(sizeof draft)) {
    errno = ENAMETOOLONG;
    return false;
  }
  const int fd = open(draft, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  pthread_mutex_t* mutex = ftruncate(fd, sizeof(pthread_mutex_t)) == 0 ? mapMutex(fd) : nullptr;
  close(fd);
  bool linked = false;
  if (mutex) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    const bool ready = pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    munmap(mutex, sizeof(pthread_mutex_t));
    linked = ready && (link(draft, path) == 0 || errno == EEXIST);
  }
  const int error = errno;
  unlink(draft);
  errno = error;
  return linked;
}

// The calling thread's kernel id, which glibc keeps as a robust mutex's
// owner. Asked once per thread, not per release (gettid is a system call);
// a forked child's thread has an id of its own, so the child asks again.
thread_local pid_t cachedThreadId = 0;
pthread_once_t forkResetOnce = PTHREAD_ONCE_INIT;

pid_t currentThreadId() {
  if (cachedThreadId == 0) {
    pthread_once(&forkResetOnce, [] { pthread_atfork(nullptr, nullptr, [] { cachedThreadId = 0; }); });
    cachedThreadId = gettid();
  }
  return cachedThreadId;
}

}  // namespace

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  if (simShouldFail("CreateMutexA")) return nullptr;
  char file[NAME_MAX + 1];
  if (initialOwner || !name || !mutexFileName(name, file, sizeof file)) return failCreate(ERROR_INVALID_PARAMETER);
  char path[PATH_MAX];
  if (!sharedFilePath(file, path, sizeof path)) return failCreate(win32ErrorFromErrno(errno));
  int fd = open(path, O_RDWR | O_CLOEXEC);
  bool existed = fd >= 0;
  if (fd < 0 && errno == ENOENT) {
    if (!createMutexFile(path)) return failCreate(win32ErrorFromErrno(errno));
    fd = open(path, O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) return failCreate(win32ErrorFromErrno(errno));
  struct stat status;
  pthread_mutex_t* mutex =
      fstat(fd, &status) == 0 && status.st_size >= static_cast<off_t>(sizeof(pthread_mutex_t)) ? mapMutex(fd) : nullptr;
  close(fd);
  if (!mutex) return failCreate(ERROR_INVALID_HANDLE);
  HandleObject* object = new (std::nothrow) HandleObject{HandleKind::Mutex, -1};
  if (!object) {
    munmap(mutex, sizeof(pthread_mutex_t));
    return failCreate(ERROR_NOT_ENOUGH_MEMORY);
  }
  object->sharedMutex = mutex;
  pthread_mutex_lock(&openMutexesLock);
  object->nextOpen = openMutexes;
  openMutexes = object;
  pthread_mutex_unlock(&openMutexesLock);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return object;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  HandleObject* object = handleObject(handle, HandleKind::Mutex);
  if (!object) return WAIT_FAILED;
  int result;
  if (milliseconds == INFINITE) {
    result = pthread_mutex_lock(object->sharedMutex);
  } else {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      ++deadline.tv_sec;
      deadline.tv_nsec -= 1000000000L;
    }
    result = pthread_mutex_timedlock(object->sharedMutex, &deadline);
  }
  switch (result) {
    case 0: return WAIT_OBJECT_0;
    case ETIMEDOUT: return WAIT_TIMEOUT;
    case EOWNERDEAD:
      // Its owner died: this thread owns it now, and it stays usable.
      pthread_mutex_consistent(object->sharedMutex);
#if defined(__SANITIZE_THREAD__)
      // The thread sanitizer takes only a timed lock that returned 0 for a
      // lock; this one is taken too.
      if (milliseconds != INFINITE) {
        __tsan_mutex_pre_lock(object->sharedMutex, 0);
        __tsan_mutex_post_lock(object->sharedMutex, 0, 0);
      }
#endif
      return WAIT_ABANDONED;
    default:
      SetLastError(win32ErrorFromErrno(result));
      return WAIT_FAILED;
  }
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
  HandleObject* object = handleObject(handle, HandleKind::Mutex);
  if (!object) return FALSE;
  // Asked of the mutex before the unlock, which a thread that does not own
  // it must not attempt (a sanitizer takes that for a fault of the caller).
  // The owner's thread id is where glibc keeps it for a robust mutex.
  if (object->sharedMutex->__data.__owner != currentThreadId() || pthread_mutex_unlock(object->sharedMutex) != 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

void closeMutexObject(HandleObject* object) {
  pthread_mutex_lock(&openMutexesLock);
  for (HandleObject** link = &openMutexes; *link; link = &(*link)->nextOpen) {
    if (*link == object) {
      *link = object->nextOpen;
      break;
    }
  }
  pthread_mutex_unlock(&openMutexesLock);
  munmap(object->sharedMutex, sizeof(pthread_mutex_t));
  delete object;
}

}  // namespace trovex::win32
