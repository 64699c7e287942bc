// Integer directives: digits, sign, fill, the precision as a cap, grouping,
// 32-bit and 64-bit arguments.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "examples.h"
#include "format/numbers.h"

namespace trovex {

const std::vector<FormatExample> integerExamples = {
    // Decimal, sign and fill. Rows named "unlike printf" differ on purpose.
    FORMAT_EXAMPLE("%d", "0", "0", 0),
    FORMAT_EXAMPLE("%d", "-2147483648", "-2147483648", INT_MIN),
    FORMAT_EXAMPLE("%u", "-1", "4294967295", -1),
    FORMAT_EXAMPLE("%i", "-17", "-17", -17),
    FORMAT_EXAMPLE("%ld", "5", "5", 5),
    FORMAT_EXAMPLE("%5d", "42", "   42", 42),
    FORMAT_EXAMPLE("%05d", "42", "00042", 42),
    FORMAT_EXAMPLE("%-5d", "42", "42", 42),              // unlike printf: no fill after
    FORMAT_EXAMPLE("%5d", "-42", "-  42", -42),          // unlike printf: sign before the fill
    FORMAT_EXAMPLE("%05d", "-42", "-0042", -42),
    FORMAT_EXAMPLE("%-5d", "-42", "-42", -42),
    FORMAT_EXAMPLE("%00d", "7", "7", 7),                 // the second "0" is a width of 0
    FORMAT_EXAMPLE("%005d", "7", "00007", 7),
    // The precision caps fill and digits together.
    FORMAT_EXAMPLE("%.3d", "12345", "123", 12345),       // unlike printf: cuts
    FORMAT_EXAMPLE("%8.3d", "42", " 42", 42),            // unlike printf: width lowered to 3
    FORMAT_EXAMPLE("%.0d", "5", "", 5),
    FORMAT_EXAMPLE("%.0d", "-5", "-", -5),
    FORMAT_EXAMPLE("%.d", "42", "42", 42),               // "." alone gives no precision
    // Grouping with ".", never cut.
    FORMAT_EXAMPLE("%D", "123", "123", 123),
    FORMAT_EXAMPLE("%D", "1234567", "1.234.567", 1234567),
    FORMAT_EXAMPLE("%D", "-1234", "-1.234", -1234),
    FORMAT_EXAMPLE("%I", "-2147483648", "-2.147.483.648", INT_MIN),
    FORMAT_EXAMPLE("%8D", "1234", "   1.234", 1234),
    FORMAT_EXAMPLE("%07D", "-1234", "-01.234", -1234),   // fill zeros are not grouped
    FORMAT_EXAMPLE("%.2D", "1234567", "1.234.567", 1234567),
    FORMAT_EXAMPLE("%U", "4294967295", "4.294.967.295", 4294967295u),
    FORMAT_EXAMPLE("%15LU", "1073741824", "  1.073.741.824", 1073741824ULL),
    FORMAT_EXAMPLE("%LD", "-9223372036854775808", "-9.223.372.036.854.775.808", LLONG_MIN),
    FORMAT_EXAMPLE("%LU", "18446744073709551615", "18.446.744.073.709.551.615", ULLONG_MAX),
    FORMAT_EXAMPLE("%LU", "5000000007", "5.000.000.007", 5000000007ULL),  // groups of zeros
    FORMAT_EXAMPLE("%U", "100000", "100.000", 100000u),
    FORMAT_EXAMPLE("%.2U", "123", "12", 123u),                         // three digits have no group to keep
    FORMAT_EXAMPLE("%.2U", "1234", "1.234", 1234u),                    // separated digits are never cut
    FORMAT_EXAMPLE("%U", "1000", "1.000", 1000u),                      // whole groups of zeros
    FORMAT_EXAMPLE("%D", "-1000", "-1.000", -1000),
    FORMAT_EXAMPLE("%LU", "2^32", "4.294.967.296", 4294967296ULL),
    FORMAT_EXAMPLE("%LU", "10^18", "1.000.000.000.000.000.000", 1000000000000000000ULL),
    FORMAT_EXAMPLE("%D", "10", "10", 10),                              // a leading group ending in 0
    FORMAT_EXAMPLE("%D", "10999", "10.999", 10999),
    FORMAT_EXAMPLE("%-D", "20000", "20.000", 20000),
    FORMAT_EXAMPLE("%LU", "90000000000", "90.000.000.000", 90000000000ULL),
    // Hexadecimal and octal; "#" puts its prefix before any fill.
    FORMAT_EXAMPLE("%x", "255", "ff", 255),
    FORMAT_EXAMPLE("%X", "255", "FF", 255),
    FORMAT_EXAMPLE("%#x", "0", "0x0", 0),                // unlike printf: prefix for 0 too
    FORMAT_EXAMPLE("%#X", "255", "0xFF", 255),
    FORMAT_EXAMPLE("%#6x", "255", "0x    ff", 255),      // unlike printf: prefix outside the width
    FORMAT_EXAMPLE("%#06x", "255", "0x0000ff", 255),
    FORMAT_EXAMPLE("%o", "8", "10", 8),
    FORMAT_EXAMPLE("%#o", "8", "010", 8),
    FORMAT_EXAMPLE("%#o", "0", "00", 0),
    FORMAT_EXAMPLE("%O", "4294967295", "37777777777", 4294967295u),
    // 64-bit with "L".
    FORMAT_EXAMPLE("%Ld", "-9223372036854775808", "-9223372036854775808", LLONG_MIN),
    FORMAT_EXAMPLE("%Lu", "18446744073709551615", "18446744073709551615", ULLONG_MAX),
    FORMAT_EXAMPLE("%Lx", "-1", "ffffffffffffffff", -1LL),
    FORMAT_EXAMPLE("%LX", "2^40", "10000000000", 1ULL << 40),
    FORMAT_EXAMPLE("%Lo", "18446744073709551615", "1777777777777777777777", ULLONG_MAX),
    FORMAT_EXAMPLE("%LX", "0xFEDCBA9876543210", "FEDCBA9876543210", 0xFEDCBA9876543210ULL),
    // Parser items around integers.
    FORMAT_EXAMPLE("%*d", "5, 42", "   42", 5, 42),
    FORMAT_EXAMPLE("%*5d", "9, 1234567", "12345", 9, 1234567),  // digits after "*" are a precision
    FORMAT_EXAMPLE("%0-5d", "7", "5d", 7),                // "-" after "0" is the letter
    FORMAT_EXAMPLE("%+d", "7", "d", 7),                   // unlike printf: "+" is the letter
    FORMAT_EXAMPLE("%lLd", "7", "d", 7),                  // "L" after "l" is the letter
};

namespace {

TEST(FormatInteger, Examples) { expectExamples(integerExamples); }

// Every argument must be taken with its own size, or the ones after it shift.
TEST(FormatInteger, ArgumentsStayInStep) {
  EXPECT_EQ(formatted("%Ld %d %LU %x", -1LL, 7, 1ULL << 32, 0xab), "-1 7 4.294.967.296 ab");
  EXPECT_EQ(formatted("%u %Ld %u", 1u, LLONG_MAX, 2u), "1 9223372036854775807 2");
}

// Where the fill stops and the digits start being cut, one on each side.
TEST(FormatInteger, BudgetBoundaries) {
  struct Row {
    const char* format;
    int value;
    const char* expected;
  } rows[] = {
      {"%3d", -42, "-42"},      // width equals digits plus sign: no fill
      {"%4d", -42, "- 42"},     // one more: the sign goes first
      {"%.2d", 42, "42"},       // a budget that just fits
      {"%.1d", 42, "4"},        // one less cuts the last digit
      {"%5.5d", -42, "-  42"},  // the sign is outside the budget
      {"%5.4d", -42, "- 42"},
      {"%06.4D", 12345, "12.345"},  // grouped: never cut, no fill fits the budget
      {"%-08D", -1234, "-1.234"},
      {"%8D", 123456, " 123.456"},  // a digit count that is a multiple of three
      {"%13D", -123456789, "- 123.456.789"},
      {"%.0x", 255, ""},
  };
  for (const Row& row : rows) EXPECT_EQ(formatted(row.format, row.value), row.expected) << row.format;
}

// Group separators at every digit count, against digits grouped by hand.
TEST(FormatInteger, GroupsEveryLength) {
  uint64_t value = 0;
  for (int digits = 1; digits <= 20; ++digits) {
    value = value * 10 + static_cast<uint64_t>(digits % 10);
    const std::string plain = std::to_string(value);
    std::string grouped;
    for (size_t i = 0; i < plain.size(); ++i) {
      if (i > 0 && (plain.size() - i) % 3 == 0) grouped += '.';
      grouped += plain[i];
    }
    EXPECT_EQ(formatted("%LU", static_cast<unsigned long long>(value)), grouped);
    if (value <= static_cast<uint64_t>(LLONG_MAX)) {
      EXPECT_EQ(formatted("%LD", -static_cast<long long>(value)), "-" + grouped);
    }
  }
}

TEST(FormatInteger, EmitDigitsLaysOutAGivenString) {
  std::string out;
  FormatSink sink{};
  sink.put = [](FormatSink* s) { static_cast<std::string*>(s->state)->push_back(s->ch); };
  sink.state = &out;
  sink.precision = NoPrecision;
  sink.width = 9;
  emitDigits(&sink, "1.234.567", 9, true, true);
  EXPECT_EQ(out, "-1.234.567");  // the separators use up the width
}

}  // namespace

}  // namespace trovex
