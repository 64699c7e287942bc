// The viewer's filter: the library's own message filter, switches and
// identifier lists, applied to the lines read back from its output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filter/filter.h"
#include "record/line.h"

struct FilterSettings {
  std::string include;  // the library's pattern-list syntax: patterns split at ";" ("\;" is a literal)
  std::string exclude;
  bool errors = true;
  bool warnings = true;
  bool init = true;
  // Writers of a pipe (--listen): their process ids, and a pattern list of
  // their program names, as for identifiers; empty: every writer.
  std::vector<uint32_t> pids;
  std::string programs;
};

class ViewFilter {
 public:
  // The longest list the library keeps; a longer one would be cut there.
  static constexpr size_t MaxListLength = trovex::PatternListSize - 1;

  // False, with a message in `error`, when a list is longer than the library
  // would keep.
  bool configure(const FilterSettings& settings, std::string* error);

  // Whether the library, with the same settings, would have let the message
  // of this header through. A header tells only the highest category of the
  // message's letters, so a message written as "ew" is judged as an error.
  // Plain lines have no category and no identifier, and pass.
  bool passes(const ParsedLine& line) const;
  // Whether a pipe's writer is shown: its process id is one of the list's,
  // and its program name matches the pattern list (each when given).
  bool writerPasses(uint32_t pid, const std::string& program) const;

 private:
  trovex::MessageFilter filter_{};
  std::vector<uint32_t> pids_;
  std::string programs_;
};
