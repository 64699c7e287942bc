// Judges headers with the library's categoryPasses and idPasses.
#include "record/filter.h"

#include <algorithm>

namespace {

// The category letter whose switch decides a header's label.
const char* lettersOf(Category category) {
  switch (category) {
    case Category::Error: return "e";
    case Category::Warn: return "w";
    case Category::Init: return "i";
    default: return nullptr;  // no letters: the library's switches let it pass
  }
}

}  // namespace

bool ViewFilter::configure(const FilterSettings& settings, std::string* error) {
  for (const std::string* list : {&settings.include, &settings.exclude, &settings.programs}) {
    if (list->size() > MaxListLength) {
      *error = (list == &settings.include ? "--include" : list == &settings.exclude ? "--exclude" : "--process") +
               std::string(" list has ") +
               std::to_string(list->size()) + " characters; the library keeps at most " +
               std::to_string(MaxListLength);
      return false;
    }
  }
  trovex::initMessageFilter(&filter_);
  trovex::swapCategorySwitch(&filter_, 'e', settings.errors);
  trovex::swapCategorySwitch(&filter_, 'w', settings.warnings);
  trovex::swapCategorySwitch(&filter_, 'i', settings.init);
  trovex::setIncludeIds(&filter_, settings.include.c_str());
  trovex::setExcludeIds(&filter_, settings.exclude.c_str());
  pids_ = settings.pids;
  programs_ = settings.programs;
  return true;
}

bool ViewFilter::writerPasses(uint32_t pid, const std::string& program) const {
  return (pids_.empty() || std::find(pids_.begin(), pids_.end(), pid) != pids_.end()) &&
         (programs_.empty() || trovex::matchPatternList(programs_.c_str(), program.c_str()));
}

bool ViewFilter::passes(const ParsedLine& line) const {
  if (line.category == Category::Plain) return true;
  const std::string id(line.id);
  return trovex::categoryPasses(&filter_, lettersOf(line.category)) && trovex::idPasses(&filter_, id.c_str());
}
