// A ReportSink that keeps every piece as text, formatted by the library's engine.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "report/sections.h"
#include "support.h"

namespace trovex {

struct ReportPiece {
  bool keepOpen;
  std::string text;
};

struct ReportCollector {
  std::mutex lock;
  std::vector<ReportPiece> pieces;
  ReportSink sink{collectPiece, this};

  std::string text() {
    std::lock_guard<std::mutex> hold(lock);
    std::string all;
    for (const ReportPiece& piece : pieces) all += piece.text;
    return all;
  }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> all;
    for (const ReportPiece& piece : pieces) all.push_back(piece.text);
    return all;
  }

  static void collectPiece(void* state, bool keepOpen, const char* format, va_list* args) {
    ReportCollector* collector = static_cast<ReportCollector*>(state);
    std::string text = vformatted(format, *args);
    std::lock_guard<std::mutex> hold(collector->lock);
    collector->pieces.push_back(ReportPiece{keepOpen, text});
  }
};

}  // namespace trovex
