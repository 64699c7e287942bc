// Files by name: attributes, deletion, size and last-write time.
#include "fileio/fileio.h"
#include "platform/win32.h"

namespace trovex {

namespace {

struct AttrMapping {
  uint32_t bit;      // FileAttr
  DWORD attribute;   // FILE_ATTRIBUTE_*
};

// Every attribute whose bit follows it; AttrWritable is the absence of
// FILE_ATTRIBUTE_READONLY and stands apart.
const AttrMapping attrMappings[] = {
    {AttrDirectory, FILE_ATTRIBUTE_DIRECTORY}, {AttrArchive, FILE_ATTRIBUTE_ARCHIVE},
    {AttrCompressed, FILE_ATTRIBUTE_COMPRESSED}, {AttrHidden, FILE_ATTRIBUTE_HIDDEN},
    {AttrOffline, FILE_ATTRIBUTE_OFFLINE}, {AttrSystem, FILE_ATTRIBUTE_SYSTEM},
    {AttrTemporary, FILE_ATTRIBUTE_TEMPORARY}, {AttrEncrypted, FILE_ATTRIBUTE_ENCRYPTED},
};

// The bits that setFileAttributes can change, and the directory bit it keeps.
constexpr uint32_t SettableAttrs = AttrDirectory | AttrArchive | AttrWritable | AttrHidden | AttrSystem | AttrTemporary;

uint32_t attrBits(DWORD attributes) {
  uint32_t bits = (attributes & FILE_ATTRIBUTE_READONLY) ? 0 : AttrWritable;
  for (const AttrMapping& mapping : attrMappings)
    if (attributes & mapping.attribute) bits |= mapping.bit;
  return bits;
}

DWORD windowsAttributes(uint32_t bits) {
  DWORD attributes = (bits & AttrWritable) ? 0 : FILE_ATTRIBUTE_READONLY;
  for (const AttrMapping& mapping : attrMappings)
    if ((bits & mapping.bit) && mapping.bit != AttrDirectory) attributes |= mapping.attribute;
  return attributes;
}

uint64_t joinHalves(DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; }

}  // namespace

int32_t fileAttributes(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    recordLastError();
    return -1;
  }
  return static_cast<int32_t>(attrBits(attributes));
}

int setFileAttributes(const char* name, uint32_t mask, uint32_t values) {
  mask &= ~AttrOffline;
  values &= ~AttrOffline;
  const DWORD current = GetFileAttributesA(name);
  if (current == INVALID_FILE_ATTRIBUTES) {
    recordLastError();
    return 0;
  }
  uint32_t bits = attrBits(current) & SettableAttrs;
  bits = (bits & ~mask) | (values & mask);
  if (!SetFileAttributesA(name, windowsAttributes(bits & SettableAttrs))) {
    recordLastError();
    return 0;
  }
  return 1;
}

HANDLE createFileWaitingForShare(const char* name, DWORD access, DWORD shareMode, DWORD disposition,
                                 DWORD attributes) {
  // Between tries: short against the time a host holds its file for one
  // message, long enough not to take the processor from the holder.
  constexpr DWORD PauseMilliseconds = 2;
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};  // the handle is not inherited
  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE file = CreateFileA(name, access, shareMode, &security, disposition, attributes, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
        GetTickCount() - start >= SharingWaitMilliseconds)
      return file;
    Sleep(PauseMilliseconds);
    SetLastError(ERROR_SHARING_VIOLATION);  // what a caller reads if the time is up
  }
}

int deleteFile(const char* name) {
  if (DeleteFileA(name)) return 0;
  recordLastError();
  return -1;
}

int fileSize(const char* name, uint64_t* size) {
  *size = 0;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || !file) return 0;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return 0;
  }
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(file, &high);
  // A size whose low half is all ones is real when no error comes with it.
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
    recordLastError();
    CloseHandle(file);
    return 0;
  }
  *size = joinHalves(high, low);
  CloseHandle(file);
  return 1;
}

int lastWriteTime(const char* name, uint64_t* time) {
  *time = 0;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(name, &found);
  if (find == INVALID_HANDLE_VALUE || !find) {
    recordLastError();
    return 0;
  }
  FindClose(find);
  FILETIME local;
  FileTimeToLocalFileTime(&found.ftLastWriteTime, &local);
  *time = joinHalves(local.dwHighDateTime, local.dwLowDateTime);
  return 1;
}

int setLastWriteTime(const char* name, uint64_t time) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || !file) {
    recordLastError();
    return 0;
  }
  FILETIME local;
  local.dwLowDateTime = static_cast<DWORD>(time);
  local.dwHighDateTime = static_cast<DWORD>(time >> 32);
  FILETIME utc;
  LocalFileTimeToFileTime(&local, &utc);
  const BOOL result = SetFileTime(file, nullptr, nullptr, &utc);
  if (!result) recordLastError();
  CloseHandle(file);
  return result;
}

}  // namespace trovex
