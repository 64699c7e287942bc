// Start-up and shut-down of the library, run by the module entry at process
// attach and detach.
#pragma once

namespace trovex {

void startUpLibrary();
void shutDownLibrary();

}  // namespace trovex
