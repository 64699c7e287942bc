// What the library's load and unload set up and tear down: the layer's
// locks, and the three standard streams over the process's standard handles.
#include "fileio/slots.h"
#include "fileio/stream.h"

namespace trovex {

namespace {
Stream* standardStreams[StandardSlots];  // input, output, error; null while not open

HANDLE standardHandle(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}
}  // namespace

void initFileLayer() { initStreamList(); }

void shutDownFileLayer() { shutDownStreamList(); }

int openStandardStreams() {
  closeStandardStreams();
  HANDLE input = standardHandle(STD_INPUT_HANDLE);
  HANDLE output = standardHandle(STD_OUTPUT_HANDLE);
  HANDLE error = standardHandle(STD_ERROR_HANDLE);
  if (!error) error = output;
  setStandardSlots(input, output, error);
  if (!input || !output || !error) return 0;
  for (int slot = 0; slot < StandardSlots; ++slot) {
    Stream* stream = openStandardStream(slot, nullptr);
    if (!stream && slot == 2) stream = openStandardStream(1, nullptr);
    if (!stream) {
      closeStandardStreams();
      return 0;
    }
    standardStreams[slot] = stream;
  }
  return 1;
}

void closeStandardStreams() {
  for (Stream*& stream : standardStreams)
    if (stream) {
      closeStream(stream);
      stream = nullptr;
    }
}

Stream* standardStream(int slot) { return slot >= 0 && slot < StandardSlots ? standardStreams[slot] : nullptr; }

}  // namespace trovex
