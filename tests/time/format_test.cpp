// formatTime: every conversion, the dropped "%" sequences, and the cut of a
// text at the end of the buffer, with nothing written past it.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "time/time.h"

namespace trovex {

namespace {

//                               sec min hour mday mon year wday yday
const BrokenDownTime tuesday = {9, 5, 14, 27, 2, 107, 2, 85, 0};     // 2007-03-27 14:05:09
const BrokenDownTime sundayNewYear = {0, 0, 0, 1, 0, 106, 0, 0, 0};  // 2006-01-01 00:00:00
const BrokenDownTime mondayNewYear = {45, 30, 12, 1, 0, 107, 1, 0, 0};  // 2007-01-01 12:30:45
const BrokenDownTime mayMorning = {3, 7, 11, 5, 4, 109, 2, 124, 0};  // 2009-05-05 11:07:03
const BrokenDownTime leapYearEnd = {59, 59, 23, 31, 11, 100, 0, 365, 0};  // 2000-12-31 23:59:59
// Not made by breakDownTime: names out of range, negative and huge numbers.
const BrokenDownTime outOfRange = {-5, 0, -3, 0, 12, INT_MAX, 7, -1, 0};

struct Row {
  const BrokenDownTime* time;
  const char* format;
  size_t size;
  const char* text;
  size_t result;
};

const Row rows[] = {
    {&tuesday, "%A %d-%b-%Y %T", 128, "Dienstag 27-M\xE4r-2007 14:05:09", 29},
    // Names.
    {&tuesday, "%a|%A|%b|%h|%B", 128, "Din|Dienstag|M\xE4r|M\xE4r|M\xE4rz", 25},
    {&mayMorning, "%b|%B|%a", 128, "Mai|Mai|Din", 11},
    {&sundayNewYear, "%a %A %b %B", 128, "Son Sonntag Jan Januar", 22},
    // Numbers.
    {&tuesday, "%d|%e|%H|%I|%j|%k|%l|%m|%M|%S|%w|%y|%Y", 128, "27|27|14|02|086|14| 2|03|05|09|2|07|2007", 40},
    {&sundayNewYear, "%H|%I|%k|%l|%p|%d|%e|%j", 128, "00|12| 0|12|AM|01| 1|001", 24},
    {&mondayNewYear, "%I|%p", 128, "12|PM", 5},
    {&mayMorning, "%I|%p|%e|%d", 128, "11|AM| 5|05", 11},
    {&leapYearEnd, "%j|%m|%y|%Y", 128, "366|12|00|2000", 14},
    {&outOfRange, "%a|%B|%S|%k|%j|%Y", 128, "||-5|-3|000|2147485547", 22},
    // Weeks: 1 January on a Sunday and on a Monday, and later in the year.
    {&sundayNewYear, "%U %W", 128, "01 00", 5},
    {&mondayNewYear, "%U %W", 128, "00 01", 5},
    {&tuesday, "%U %W", 128, "12 13", 5},
    // Composites; the lower-case c is the short date.
    {&tuesday, "%c|%D", 128, "03/27/07|03/27/07", 17},
    {&tuesday, "%x", 128, "03/27/07 14:05:09", 17},
    {&tuesday, "%C", 128, "Din M\xE4r 27 14:05:09 2007", 24},
    {&mayMorning, "%C", 128, "Din Mai  5 11:07:03 2009", 24},
    {&tuesday, "%r|%R|%T|%X", 128, "02:05:09 PM|14:05|14:05:09|14:05:09", 35},
    {&sundayNewYear, "%r", 128, "12:00:00 AM", 11},
    // Characters, and what is dropped.
    {&tuesday, "a%nb%tc%%d", 128, "a\nb\tc%d", 7},
    {&tuesday, "[%Q%5%-%\x80%\xE4]", 128, "[]", 2},
    {&tuesday, "%Ey", 128, "y", 1},
    {&tuesday, "abc%", 128, "abc", 3},
    {&tuesday, "", 128, "", 0},
    // A 10-character text at sizes 11, 10, 1 and 0.
    {&tuesday, "%Y-%m-%d", 11, "2007-03-27", 10},
    {&tuesday, "%Y-%m-%d", 10, "2007-03-2", 0},
    {&tuesday, "%Y-%m-%d", 1, "", 0},
    {&tuesday, "%Y-%m-%d", 0, nullptr, 0},
    // Names and composites cut where plain text would be.
    {&tuesday, "at %T", 8, "at 14:0", 0},
    {&tuesday, "%A", 5, "Dien", 0},
    {&tuesday, "%A", 9, "Dienstag", 8},
    {&tuesday, "%C", 12, "Din M\xE4r 27 ", 0},
    {&tuesday, "%x and more", 10, "03/27/07 ", 0},
};

constexpr char Untouched = '\x7F';

TEST(FormatTime, Table) {
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << '"' << row.format << "\" at size " << row.size);
    char buffer[256];
    std::memset(buffer, Untouched, sizeof buffer);
    EXPECT_EQ(formatTime(buffer, row.size, row.format, row.time), row.result);
    if (row.text) {
      const size_t length = std::strlen(row.text) + 1;  // with the NUL
      EXPECT_EQ(std::string(buffer, length), std::string(row.text, length));
    }
    for (size_t i = row.size; i < sizeof buffer; ++i)
      if (buffer[i] != Untouched) {
        ADD_FAILURE() << "byte " << i << " written past the buffer";
        break;
      }
  }
}

TEST(FormatTime, NullArgumentsGiveAnEmptyText) {
  char buffer[16] = "unchanged";
  EXPECT_EQ(formatTime(nullptr, sizeof buffer, "%T", &tuesday), 0u);
  EXPECT_EQ(formatTime(buffer, sizeof buffer, nullptr, &tuesday), 0u);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "unchanged");
  EXPECT_EQ(formatTime(buffer, sizeof buffer, "at %T", nullptr), 0u);
  EXPECT_STREQ(buffer, "");
}

}  // namespace

}  // namespace trovex
