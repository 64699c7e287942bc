// The system report in its order: records gathered from the platform,
// rendered to the sink, emitted through the output context.
#include "report/report.h"

#include "dispatch/emit.h"
#include "report/sections.h"

namespace trovex {

namespace {

// Set by the first report of the process, never cleared.
std::atomic_flag systemDetailsShown = ATOMIC_FLAG_INIT;

void emitToContext(void* state, bool keepOpen, const char* format, va_list* args) {
  emitMessage(static_cast<OutputContext*>(state), nullptr, nullptr, format, args, keepOpen);
}

}  // namespace

void gatherDetails(SystemDetails* details, FeatureProbe* probe) {
  gatherVersion(&details->version);
  gatherSystemInfo(&details->system);
  details->features = probe ? probeCpuFeatures(probe) : probeCpuFeatures();
  details->language = GetUserDefaultLangID();
  details->drives = gatherDrives();
}

void printDetails(const ReportSink* sink, const SystemDetails& details) {
  printVersionLines(sink, details.version);
  printProcessorLines(sink, details.system, details.features);
  printLanguageLine(sink, details.language);
  printDrives(sink, details.drives);
}

void releaseDetails(SystemDetails* details) {
  deleteDriveList(details->drives);
  details->drives = nullptr;
}

void printSystemReport(const ReportSink* sink, std::atomic_flag* detailsShown, FeatureProbe* probe) {
  reportPrintAndClose(sink, "\n");
  MemoryFigures memory;
  gatherMemory(&memory);
  printMemoryTable(sink, memory);
  if (detailsShown->test_and_set()) return;

  SystemDetails details;
  gatherDetails(&details, probe);
  printDetails(sink, details);
  releaseDetails(&details);
}

void printSystemInfo(OutputContext* context) {
  const ReportSink sink{emitToContext, context};
  printSystemReport(&sink, &systemDetailsShown, nullptr);
}

}  // namespace trovex
