// The system report in its order, emitted through the output context.
#include "report/report.h"

#include "dispatch/emit.h"
#include "report/sections.h"

namespace {

// Set by the first report of the process, never cleared.
std::atomic_flag systemDetailsShown = ATOMIC_FLAG_INIT;

void emitToContext(void* state, bool keepOpen, const char* format, va_list* args) {
  emitMessage(static_cast<OutputContext*>(state), nullptr, nullptr, format, args, keepOpen);
}

void emitPiece(const ReportSink* sink, bool keepOpen, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  sink->emit(sink->state, keepOpen, format, &copy);
  va_end(copy);
}

}  // namespace

void reportPrint(const ReportSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emitPiece(sink, true, format, args);
  va_end(args);
}

void reportPrintAndClose(const ReportSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emitPiece(sink, false, format, args);
  va_end(args);
}

void printSystemReport(const ReportSink* sink, std::atomic_flag* detailsShown, FeatureProbe* probe) {
  reportPrintAndClose(sink, "\n");
  MemoryFigures memory;
  gatherMemory(&memory);
  printMemoryTable(sink, memory);
  if (detailsShown->test_and_set()) return;

  OSVERSIONINFOA version;
  gatherVersion(&version);
  printVersionLines(sink, version);
  SYSTEM_INFO system;
  gatherSystemInfo(&system);
  printProcessorLines(sink, system, probe ? probeCpuFeatures(probe) : probeCpuFeatures());
  printLanguageLine(sink, GetUserDefaultLangID());
  listDrives(sink);
}

void printSystemInfo(OutputContext* context) {
  const ReportSink sink{emitToContext, context};
  printSystemReport(&sink, &systemDetailsShown, nullptr);
}
