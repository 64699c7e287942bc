// Load and unload of the library as a DLL would see them: the module entry is
// called at process attach when the library is loaded and at detach when it is unloaded.
#include "platform/posix/handles.h"

namespace trovex::win32 {

const int posixModuleLoaderLinked = 1;

namespace {
__attribute__((constructor)) void attachModule() { DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); }
__attribute__((destructor)) void detachModule() { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); }
}  // namespace

}  // namespace trovex::win32
