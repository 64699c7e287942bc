// The registry in process memory: keys by their path under a root, each with
// its named values. Open keys are handles that remember the path, so a key
// deleted while open answers ERROR_KEY_DELETED, as on Windows.
//
// Seeding: the first registry call of the process creates the debug
// channel's key "qz\kprintf" under HKEY_CURRENT_USER from the environment
// variables TROVEX_CHANNEL_USE (DWORD "use"), TROVEX_CHANNEL_TYPE (DWORD
// "type", decimal or 0x hexadecimal) and TROVEX_CHANNEL_PATH (string "path"),
// each value only if its variable is set (and, for the numbers, is a number).
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>
#include <strings.h>

#include "common/texts.h"
#include "platform/posix/handles.h"
#include "platform/posix/sim.h"

namespace trovex::win32 {

struct RegistryKey {
  HKEY root;   // the predefined key the path starts from
  char* path;  // subkeys joined by '\', no '\' at either end; "" for the root itself
};

namespace {

struct StoredValue {
  char* name;  // "" for the key's default value
  DWORD type;
  BYTE* data;
  DWORD size;
  StoredValue* next;
};

struct StoredKey {
  HKEY root;
  char* path;
  StoredValue* values;
  StoredKey* next;
};

StoredKey* keys = nullptr;
bool seeded = false;
pthread_mutex_t registryLock = PTHREAD_MUTEX_INITIALIZER;

bool isRoot(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

char* copyText(const char* text, size_t length) {
  char* copy = new (std::nothrow) char[length + 1];
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

// The full path of subKey below key, in new storage, or null.
char* joinPath(HKEY key, const char* subKey, HKEY* root) {
  const char* base = "";
  if (isRoot(key)) {
    *root = key;
  } else {
    *root = key->root;
    base = key->path;
  }
  if (!subKey) subKey = "";
  while (*subKey == '\\') ++subKey;
  size_t subLength = std::strlen(subKey);
  while (subLength > 0 && subKey[subLength - 1] == '\\') --subLength;
  const size_t baseLength = std::strlen(base);
  char* path = new (std::nothrow) char[baseLength + 1 + subLength + 1];
  if (!path) return nullptr;
  std::memcpy(path, base, baseLength);
  size_t at = baseLength;
  if (baseLength > 0 && subLength > 0) path[at++] = '\\';
  std::memcpy(path + at, subKey, subLength);
  path[at + subLength] = '\0';
  return path;
}

// Key names compare without regard to case, as on Windows.
StoredKey* findKey(HKEY root, const char* path) {
  for (StoredKey* key = keys; key; key = key->next)
    if (key->root == root && strcasecmp(key->path, path) == 0) return key;
  return nullptr;
}

bool hasSubkeys(HKEY root, const char* path) {
  const size_t length = std::strlen(path);
  for (StoredKey* key = keys; key; key = key->next)
    if (key->root == root && std::strlen(key->path) > length && key->path[length] == '\\' &&
        strncasecmp(key->path, path, length) == 0)
      return true;
  return false;
}

// Finds or creates the key and every key above it. Called under registryLock.
StoredKey* createKey(HKEY root, const char* path, bool* created) {
  *created = false;
  if (StoredKey* existing = findKey(root, path)) return existing;
  const char* slash = std::strrchr(path, '\\');
  if (slash) {
    char* parent = copyText(path, static_cast<size_t>(slash - path));
    bool parentCreated;
    StoredKey* above = parent ? createKey(root, parent, &parentCreated) : nullptr;
    delete[] parent;
    if (!above) return nullptr;
  }
  StoredKey* key = new (std::nothrow) StoredKey{root, copyText(path, std::strlen(path)), nullptr, keys};
  if (!key || !key->path) {
    delete key;
    return nullptr;
  }
  keys = key;
  *created = true;
  return key;
}

StoredValue* findValue(StoredKey* key, const char* name) {
  for (StoredValue* value = key->values; value; value = value->next)
    if (strcasecmp(value->name, name) == 0) return value;
  return nullptr;
}

// Text values get the string rules of Windows' registry.
bool isText(DWORD type) { return type == REG_SZ; }

LSTATUS setValue(StoredKey* key, const char* name, DWORD type, const BYTE* data, DWORD size) {
  if (!name) name = "";
  BYTE* copy = new (std::nothrow) BYTE[size ? size : 1];
  if (!copy) return ERROR_NOT_ENOUGH_MEMORY;
  if (size) std::memcpy(copy, data, size);
  StoredValue* value = findValue(key, name);
  if (!value) {
    value = new (std::nothrow) StoredValue{copyText(name, std::strlen(name)), type, nullptr, 0, key->values};
    if (!value || !value->name) {
      if (value) delete value;
      delete[] copy;
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    key->values = value;
  }
  delete[] value->data;
  value->type = type;
  value->data = copy;
  value->size = size;
  return ERROR_SUCCESS;
}

void freeKey(StoredKey* key) {
  while (StoredValue* value = key->values) {
    key->values = value->next;
    delete[] value->name;
    delete[] value->data;
    delete value;
  }
  delete[] key->path;
  delete key;
}

bool parseNumber(const char* text, DWORD* number) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text, &end, 0);
  if (*end != '\0') return false;
  *number = static_cast<DWORD>(parsed);
  return true;
}

// The debug channel's key from the environment, once per process (or per
// sim::resetRegistry). Called under registryLock.
void seedFromEnvironment() {
  if (seeded) return;
  seeded = true;
  const char* use = std::getenv("TROVEX_CHANNEL_USE");
  const char* type = std::getenv("TROVEX_CHANNEL_TYPE");
  const char* path = std::getenv("TROVEX_CHANNEL_PATH");
  if (!use && !type && !path) return;
  bool created;
  StoredKey* key = createKey(HKEY_CURRENT_USER, ChannelRegistryKey, &created);
  if (!key) return;
  DWORD number;
  if (parseNumber(use, &number)) setValue(key, "use", REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  if (parseNumber(type, &number)) setValue(key, "type", REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  if (path)
    setValue(key, "path", REG_SZ, reinterpret_cast<const BYTE*>(path), static_cast<DWORD>(std::strlen(path) + 1));
}

// Opens (create: creates first) subKey below key into a new handle.
LSTATUS openKey(HKEY key, const char* subKey, bool create, PHKEY result, LPDWORD disposition) {
  if (!result || !key) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  pthread_mutex_lock(&registryLock);
  seedFromEnvironment();
  LSTATUS status = ERROR_SUCCESS;
  HKEY root;
  char* path = joinPath(key, subKey, &root);
  bool created = false;
  if (!path) {
    status = ERROR_NOT_ENOUGH_MEMORY;
  } else if (!isRoot(key) && !findKey(key->root, key->path) && key->path[0]) {
    status = ERROR_KEY_DELETED;
  } else if (path[0] && !(create ? createKey(root, path, &created) : findKey(root, path))) {
    status = create ? ERROR_NOT_ENOUGH_MEMORY : ERROR_FILE_NOT_FOUND;
  }
  if (status == ERROR_SUCCESS) {
    *result = new (std::nothrow) RegistryKey{root, path};
    if (!*result) status = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (status != ERROR_SUCCESS) delete[] path;
  if (status == ERROR_SUCCESS && disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  pthread_mutex_unlock(&registryLock);
  return status;
}

// The stored key behind an open handle; `status` says why there is none.
StoredKey* storedKeyOf(HKEY key, LSTATUS* status) {
  if (!key) {
    *status = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  StoredKey* stored = isRoot(key) ? nullptr : findKey(key->root, key->path);
  *status = stored ? ERROR_SUCCESS : isRoot(key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  return stored;
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (simShouldFail("RegOpenKeyExA")) return static_cast<LSTATUS>(GetLastError());
  return openKey(key, subKey, false, result, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition) {
  if (simShouldFail("RegCreateKeyExA")) return static_cast<LSTATUS>(GetLastError());
  return openKey(key, subKey, true, result, disposition);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  if (simShouldFail("RegCloseKey")) return static_cast<LSTATUS>(GetLastError());
  if (!key) return ERROR_INVALID_HANDLE;
  if (isRoot(key)) return ERROR_SUCCESS;
  delete[] key->path;
  delete key;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, BYTE* data, LPDWORD size) {
  if (simShouldFail("RegQueryValueExA")) return static_cast<LSTATUS>(GetLastError());
  if (data && !size) return ERROR_INVALID_PARAMETER;
  pthread_mutex_lock(&registryLock);
  seedFromEnvironment();
  LSTATUS status;
  StoredKey* stored = storedKeyOf(key, &status);
  const StoredValue* value = stored ? findValue(stored, name ? name : "") : nullptr;
  if (stored && !value) status = ERROR_FILE_NOT_FOUND;
  if (value) {
    if (type) *type = value->type;
    if (data && value->size > *size) {
      status = ERROR_MORE_DATA;
    } else if (data) {
      std::memcpy(data, value->data, value->size);
      // Text stored without its terminator gets one where the buffer has
      // room; the size reported stays the stored one.
      if (isText(value->type) && value->size > 0 && value->size < *size && value->data[value->size - 1])
        data[value->size] = 0;
    }
    if (size) *size = value->size;
  }
  pthread_mutex_unlock(&registryLock);
  return status;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (simShouldFail("RegSetValueExA")) return static_cast<LSTATUS>(GetLastError());
  if (!data && size) return ERROR_INVALID_PARAMETER;
  // A caller that left the terminator out of the size of text that has one
  // gets it counted, as Windows does (it looks at the byte after the size).
  if (isText(type) && size > 0 && data[size - 1] && !data[size]) ++size;
  pthread_mutex_lock(&registryLock);
  LSTATUS status;
  StoredKey* stored = storedKeyOf(key, &status);
  if (stored) status = setValue(stored, name, type, data, size);
  pthread_mutex_unlock(&registryLock);
  return status;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (simShouldFail("RegDeleteKeyA")) return static_cast<LSTATUS>(GetLastError());
  if (!key) return ERROR_INVALID_HANDLE;
  pthread_mutex_lock(&registryLock);
  seedFromEnvironment();
  HKEY root;
  char* path = joinPath(key, subKey, &root);
  LSTATUS status = ERROR_SUCCESS;
  StoredKey* stored = path && path[0] ? findKey(root, path) : nullptr;
  if (!path) status = ERROR_NOT_ENOUGH_MEMORY;
  else if (!path[0]) status = ERROR_ACCESS_DENIED;
  else if (!stored) status = ERROR_FILE_NOT_FOUND;
  else if (hasSubkeys(root, path)) status = ERROR_ACCESS_DENIED;
  if (status == ERROR_SUCCESS) {
    for (StoredKey** link = &keys; *link; link = &(*link)->next)
      if (*link == stored) {
        *link = stored->next;
        break;
      }
    freeKey(stored);
  }
  delete[] path;
  pthread_mutex_unlock(&registryLock);
  return status;
}

namespace {
// Empties the registry; the next call seeds it from the environment again.
void emptyRegistry() {
  pthread_mutex_lock(&registryLock);
  while (StoredKey* key = keys) {
    keys = key->next;
    freeKey(key);
  }
  seeded = false;
  pthread_mutex_unlock(&registryLock);
}

// The registry lives as long as the library: a host that unloads and loads
// it again gets a fresh one, seeded again, and nothing is left behind.
__attribute__((destructor)) void releaseRegistry() { emptyRegistry(); }
}  // namespace

#if defined(TROVEX_SIM)
void sim::resetRegistry() { emptyRegistry(); }
#endif

}  // namespace trovex::win32
