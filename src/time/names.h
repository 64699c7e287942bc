// Inside the time subsystem: the table of names that date formatting reads.
#pragma once

namespace trovex {

// Texts of one language, in this fixed order. Only the weekday, month and
// AM/PM texts are read; the other slots keep the table's layout.
struct TimeNames {
  const char* weekDays[7];        // Sunday first
  const char* shortWeekDays[7];   // Sunday first, three letters
  const char* months[12];         // January first
  const char* shortMonths[12];    // January first, three letters
  const char* unusedTexts[2];     // empty
  const char* morning;            // "AM"
  const char* afternoon;          // "PM"
  const char* unusedSlots[10];    // null
};

// The German names, in Windows-1252 ("M\xE4rz").
extern const TimeNames germanTimeNames;

}  // namespace trovex
