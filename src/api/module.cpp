// The module entry and the library's start-up and shut-down order.
#include "api/module.h"

#include "common/settings.h"
#include "debugchannel/channel.h"
#include "dispatch/emit.h"
#include "fileio/fileio.h"
#include "platform/win32.h"
#include "protocol/protocol.h"

namespace trovex {

// Identification for version tools; nothing in the library reads it.
extern "C" {
[[gnu::used]] const char trovexVersionString[] = "$VER: trovex 1.2.9 (27.03.2007)";
}

void startUpLibrary() {
  initFileLayer();
  openStandardStreams();  // loading goes on without them if this fails
  initSettingsLock();
  initMessageFilter(&messageFilter);
  initProtocolFile(&protocolFile);
  initOutputContext(&outputContext, &messageFilter, &protocolFile);
  startUpChannel();
}

void shutDownLibrary() {
  // Waits for a message in progress; later messages do nothing.
  destroyOutputContext(&outputContext);
  shutDownChannel();  // the port or file was opened without sharing: a reload must open it again
  closeStandardStreams();
  shutDownFileLayer();
  deleteSettingsLock();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(module);
      startUpLibrary();
      break;
    case DLL_PROCESS_DETACH:
      shutDownLibrary();
      break;
    default:
      break;
  }
  return TRUE;
}

}  // namespace trovex
