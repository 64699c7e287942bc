// The file layer's error state and the mapping of Windows error codes onto
// its error numbers.
#include "fileio/fileio.h"
#include "platform/win32.h"

namespace trovex {

std::atomic<int32_t> errorNumber{0};
std::atomic<uint32_t> systemError{0};

namespace {
int32_t errorNumberFor(uint32_t code) {
  switch (code) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return ErrorNotFound;
    case ERROR_ACCESS_DENIED: return ErrorAccess;
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: return ErrorNoMemory;
    case ERROR_WRITE_PROTECT: return ErrorWriteProtected;
    case ERROR_SHARING_VIOLATION: return ErrorSharing;
    case ERROR_INVALID_NAME: return ErrorInvalidName;
    case ERROR_NOT_ENOUGH_QUOTA: return ErrorQuota;
    default: return ErrorUnknown;
  }
}
}  // namespace

void recordSystemError(uint32_t code) {
  systemError = code;
  errorNumber = errorNumberFor(code);
}

void recordLastError() { recordSystemError(GetLastError()); }

}  // namespace trovex
