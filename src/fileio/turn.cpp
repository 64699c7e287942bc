// Turns at a file that several hosts write one message at a time: a named
// mutex per file name, kept open by its owner between messages so that a
// turn costs one wait and one release.
#include <cstring>

#include "fileio/fileio.h"

namespace trovex {

namespace {

// "Local\trovex-file-" and the name's key in 16 hex digits: one mutex per
// file for the processes of a session.
constexpr char TurnNamePrefix[] = "Local\\trovex-file-";
constexpr unsigned TurnNameSize = sizeof TurnNamePrefix + 16;

void composeTurnName(uint64_t key, char* name) {
  std::memcpy(name, TurnNamePrefix, sizeof TurnNamePrefix - 1);
  char* digits = name + sizeof TurnNamePrefix - 1;
  for (int i = 15; i >= 0; --i, key >>= 4) digits[i] = "0123456789abcdef"[key & 0xF];
  digits[16] = '\0';
}

// Pipes and devices take what each writer gives them; no turn is needed.
bool needsTurn(const char* name) { return std::strncmp(name, "\\\\.\\", 4) != 0; }

}  // namespace

bool takeFileTurn(FileTurn* turn, const char* name) {
  if (!needsTurn(name)) return false;
  const uint64_t key = nameKey(name);
  if (turn->mutex && turn->nameKey != key) {
    if (turn->holds > 0) return false;  // an outer message of this thread holds another file's turn
    closeFileTurn(turn);
  }
  if (!turn->mutex) {
    char mutexName[TurnNameSize];
    composeTurnName(key, mutexName);
    turn->mutex = CreateMutexA(nullptr, FALSE, mutexName);
    if (!turn->mutex) return false;
    turn->nameKey = key;
  }
  // An owner that died holding the turn left the file as it was after its
  // last write: the turn is taken over (WAIT_ABANDONED) like any other.
  const DWORD waited = WaitForSingleObject(turn->mutex, TurnWaitMilliseconds);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  ++turn->holds;
  return true;
}

void endFileTurn(FileTurn* turn) {
  if (turn->holds == 0) return;
  --turn->holds;
  ReleaseMutex(turn->mutex);
}

void closeFileTurn(FileTurn* turn) {
  while (turn->holds > 0) endFileTurn(turn);
  if (turn->mutex) CloseHandle(turn->mutex);
  turn->mutex = nullptr;
  turn->nameKey = 0;
}

}  // namespace trovex
