// The 18 exported functions: thin forwarders to the subsystems that do the
// work, with the results a host sees.
#include "trovex.h"

#include "dispatch/emit.h"
#include "filter/filter.h"
#include "format/format.h"
#include "protocol/protocol.h"
#include "report/report.h"

using namespace trovex;

namespace {
enum OutputType { ChannelOutput = 1, ProtocolOutput = 2 };

// A host may pass a null list. Where va_list is a pointer (or an array, which
// a parameter receives as a pointer) it can be null; where it is a record it
// cannot.
template <typename T>
bool isNullList(T* list) {
  return list == nullptr;
}
template <typename T>
bool isNullList(const T&) {
  return false;
}

// The export receives the host's list; emission works on a copy it can point
// at, made only for a message that goes on past the switches. A null list is
// never read: its message takes zeros.
int emitFromHost(const char* type, const char* id, const char* format, va_list args, bool keepOpen) {
  bool categoryPassed;
  const int answer = answerWithoutLock(&outputContext, type, &categoryPassed);
  if (answer >= 0) return answer;
  const unsigned flags = keepOpen ? KeepOpen : 0u;
  if (isNullList(args)) return emitCheckedMessage(&outputContext, categoryPassed, type, id, format, ZeroArgs, flags);
  va_list copy;
  va_copy(copy, args);
  const int result =
      emitCheckedMessage(&outputContext, categoryPassed, type, id, format, &copy, flags);
  va_end(copy);
  return result;
}
}  // namespace

extern "C" {

TROVEX_API void TROVEX_CALL Trovex_Init(void) {}
TROVEX_API void TROVEX_CALL Trovex_Cleanup(void) {}

TROVEX_API int TROVEX_CALL Trovex_Info_i(int what) {
  switch (what) {
    case 1: return 1;
    case 2: return 9;
    default: return 0;
  }
}

TROVEX_API int TROVEX_CALL Trovex_Filename_s(const char* name) {
  setFileName(&protocolFile, name);
  return 1;
}

TROVEX_API int TROVEX_CALL Trovex_FileOpenMode_s(const char* mode) {
  setOpenMode(&protocolFile, mode);
  return 1;
}

TROVEX_API int TROVEX_CALL Trovex_ReadFilename_sii(char* buffer, int length, int force) {
  MessageLockHold hold(&outputContext);
  return hold.live() ? readFileName(&protocolFile, buffer, length, force ? 1 : 0) : 0;
}

TROVEX_API int TROVEX_CALL Trovex_CopyFile_si(const char* destination, int append) {
  MessageLockHold hold(&outputContext);
  return hold.live() ? copyProtocolFile(&protocolFile, destination, append ? 1 : 0) : 0;
}

TROVEX_API int TROVEX_CALL Trovex_WarnState_i(int state) { return swapCategorySwitch(&messageFilter, 'w', state); }
TROVEX_API int TROVEX_CALL Trovex_ErrorState_i(int state) { return swapCategorySwitch(&messageFilter, 'e', state); }
TROVEX_API int TROVEX_CALL Trovex_InitState_i(int state) { return swapCategorySwitch(&messageFilter, 'i', state); }

TROVEX_API void TROVEX_CALL Trovex_IncludeID_s(const char* patterns) { setIncludeIds(&messageFilter, patterns); }
TROVEX_API void TROVEX_CALL Trovex_ExcludeID_s(const char* patterns) { setExcludeIds(&messageFilter, patterns); }

TROVEX_API int TROVEX_CALL Trovex_EnableOutput_ii(int type, int on) {
  switch (type) {
    case ChannelOutput: setChannelEnabled(&outputContext, on != 0); return 1;
    case ProtocolOutput: setProtocolEnabled(&outputContext, on != 0); return 1;
    default: return 0;
  }
}

TROVEX_API int TROVEX_CALL Trovex_Func_i(MessageCallback fn) {
  setCallback(&outputContext, fn);
  return 1;
}

TROVEX_API int TROVEX_CALL Trovex_VPrintf_ssss(const char* type, const char* id, const char* format, va_list args) {
  return emitFromHost(type, id, format, args, false);
}

TROVEX_API int TROVEX_CALL Trovex_VCPrintf_ssss(const char* type, const char* id, const char* format, va_list args) {
  return emitFromHost(type, id, format, args, true);
}

TROVEX_API int TROVEX_CALL Trovex_PrintTime_sss(const char* type, const char* id, const char* format) {
  return printTimeStamp(&outputContext, type, id, format);
}

TROVEX_API void TROVEX_CALL Trovex_PrintSystemInfo(void) { printSystemInfo(&outputContext); }

}  // extern "C"
