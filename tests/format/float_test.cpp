// The "f" directive: rounding half up in double arithmetic, the width on the
// integer part, trailing zeros, failures, and exact digits of large integer
// parts. The whole file runs in both builds, so their digits provably agree.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "examples.h"
#include "format/numbers.h"

namespace trovex {

namespace {
const double infinity = std::numeric_limits<double>::infinity();
const double notANumber = std::numeric_limits<double>::quiet_NaN();
}  // namespace

const std::vector<FormatExample> floatExamples = {
    // Default precision: up to sixteen places, trailing zeros dropped.
    FORMAT_EXAMPLE("%0.65535f", "2.0", "2.0000000000000000", 2.0),
    FORMAT_EXAMPLE("%0.40f", "2.0", "2.0000000000000000000000000000000", 2.0),
    FORMAT_EXAMPLE("%f", "0.0", "0", 0.0),
    FORMAT_EXAMPLE("%f", "-0.0", "0", -0.0),
    FORMAT_EXAMPLE("%f", "2.0", "2", 2.0),              // unlike printf: no trailing zeros
    FORMAT_EXAMPLE("%f", "0.5", "0.5", 0.5),
    FORMAT_EXAMPLE("%f", "100.0", "100", 100.0),
    FORMAT_EXAMPLE("%f", "0.1", "0.1", 0.1),
    FORMAT_EXAMPLE("%f", "3.14159", "3.1415899999999999", 3.14159),  // the double's own noise
    FORMAT_EXAMPLE("%f", "-1.5", "-1.5", -1.5),
    FORMAT_EXAMPLE("%Lf", "0.5", "0.5", 0.5),
    FORMAT_EXAMPLE("%lf", "0.5", "0.5", 0.5),
    // "#" and "0".
    FORMAT_EXAMPLE("%#f", "2.0", "2.", 2.0),
    FORMAT_EXAMPLE("%#.0f", "2.0", "2", 2.0),
    FORMAT_EXAMPLE("%#.3f", "2.5", "2.5", 2.5),
    FORMAT_EXAMPLE("%0.3f", "2.5", "2.500", 2.5),
    FORMAT_EXAMPLE("%0f", "2.0", "2.0000000000000000", 2.0),
    // Rounding: half up at the last place; precision 0 cuts.
    FORMAT_EXAMPLE("%.1f", "0.25", "0.3", 0.25),        // unlike printf: half up, not to even
    FORMAT_EXAMPLE("%.1f", "-0.25", "-0.3", -0.25),
    FORMAT_EXAMPLE("%.2f", "3.14159", "3.14", 3.14159),
    FORMAT_EXAMPLE("%.2f", "2.675", "2.68", 2.675),     // unlike printf: 2.675 is just below the tie
    FORMAT_EXAMPLE("%.0f", "2.7", "2", 2.7),            // unlike printf: cut, not rounded
    FORMAT_EXAMPLE("%.0f", "0.7", "0", 0.7),
    FORMAT_EXAMPLE("%.2f", "-0.001", "-0", -0.001),     // rounds to zero, keeps its sign
    FORMAT_EXAMPLE("%.2f", "9.999", "10", 9.999),
    FORMAT_EXAMPLE("%.40f", "0.5", "0.5", 0.5),         // more than 31 places are 31
    // Width on the integer part only, cutting its trailing digits.
    FORMAT_EXAMPLE("%8.2f", "3.14159", "       3.14", 3.14159),
    FORMAT_EXAMPLE("%06.2f", "3.14159", "000003.14", 3.14159),
    FORMAT_EXAMPLE("%-6.2f", "3.14159", "     3.14", 3.14159),  // "-" aligns nothing
    FORMAT_EXAMPLE("%5.1f", "-2.25", "   -2.3", -2.25),
    FORMAT_EXAMPLE("%05.1f", "-2.25", "-0002.3", -2.25),
    FORMAT_EXAMPLE("%2f", "12345.5", "12.5", 12345.5),
    FORMAT_EXAMPLE("%1f", "-12.5", "-1.5", -12.5),
    // Failures and values without digits.
    FORMAT_EXAMPLE("%f", "1e32", "0", 1e32),
    FORMAT_EXAMPLE("%010f", "-1e32", "0", -1e32),
    FORMAT_EXAMPLE("%10f", "infinity", "0", infinity),
    FORMAT_EXAMPLE("%5f", "NaN", "    0", notANumber),
    FORMAT_EXAMPLE("%#f", "NaN", "0.", notANumber),
    FORMAT_EXAMPLE("%0.3f", "NaN", "0.000", notANumber),
    // Integer parts from 2^53 on print their exact digits.
    FORMAT_EXAMPLE("%f", "1.2345678901234566e17", "123456789012345664", 1.2345678901234566e17),
    FORMAT_EXAMPLE("%.0f", "1e23", "99999999999999991611392", 1e23),
    FORMAT_EXAMPLE("%.0f", "2^100", "1267650600228229401496703205376", 0x1p100),
    FORMAT_EXAMPLE("%.0f", "2^103", "0", 0x1p103),  // 32 digits
};

namespace {

TEST(FormatFloat, Examples) { expectExamples(floatExamples); }

// Within one double step of a tie, double and extended arithmetic round
// differently; every step here is a double, so these hold in both builds.
TEST(FormatFloat, NearTiesRoundAsDoubles) {
  struct Row {
    const char* format;
    double value;
    const char* expected;
  } rows[] = {
      {"%.1f", 1.45, "1.5"},   {"%.1f", 8.45, "8.5"},     {"%.1f", 9.85, "9.9"},
      {"%.2f", 2.675, "2.68"}, {"%.2f", 0.075, "0.08"},   {"%.2f", 1.335, "1.34"},
      {"%.2f", 0.495, "0.5"},  {"%.3f", 0.0215, "0.022"}, {"%.3f", 0.0705, "0.071"},
      {"%.4f", 0.00635, "0.0064"},
  };
  for (const Row& row : rows) EXPECT_EQ(formatted(row.format, row.value), row.expected) << row.value;
}

// Integer parts print their exact digits, checked against "%Lu" of the same
// integer: below 2^52 (the floating-point digit loop), from 2^52 to 2^53
// where that loop would give remainders outside 0 to 9 (7214802012163769
// would end in "/"), and above.
TEST(FormatFloat, IntegerPartsAreExact) {
  std::mt19937_64 random(53);
  for (int i = 0; i < 3000; ++i) {
    const uint64_t significand = random() >> 11 | uint64_t{1} << 52;
    const double value = std::ldexp(static_cast<double>(significand), i % 12 - 1);  // 2^52 to 2^64
    EXPECT_EQ(formatted("%.0f", value), formatted("%Lu", static_cast<unsigned long long>(value))) << value;
    const uint64_t below = random() >> (12 + i % 40);  // under 2^52
    EXPECT_EQ(formatted("%.0f", static_cast<double>(below)), formatted("%Lu", static_cast<unsigned long long>(below)));
  }
  EXPECT_EQ(formatted("%.0f", 7214802012163769.0), "7214802012163769");
}

// Whatever the value and precision, only a sign, digits and one point.
TEST(FormatFloat, OutputIsAlwaysANumber) {
  std::mt19937_64 random(31);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (i % 2) value = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 80));
    const int places = static_cast<int>(random() % 33);
    const std::string out = formatted("%.*f", places, value);
    ASSERT_FALSE(out.empty());
    const size_t first = out[0] == '-' ? 1 : 0;
    const size_t point = out.find('.');
    std::string digits = out.substr(first);
    if (point != std::string::npos) digits.erase(point - first, 1);
    ASSERT_FALSE(digits.empty()) << out;
    ASSERT_EQ(digits.find_first_not_of("0123456789"), std::string::npos)
        << out << " for %." << places << "f of " << value;
  }
}

TEST(FormatFloat, PowerOfTenSquaresItsWayUp) {
  for (unsigned n = 0; n <= 22; ++n) EXPECT_EQ(powerOfTen(n), std::pow(10.0, n)) << n;  // exact doubles
  EXPECT_EQ(powerOfTen(25), std::nextafter(1e25, 0.0));  // one step below the nearest double
}

TEST(FormatFloat, DigitsOfTheWorkRecord) {
  FloatDigits d;
  d.wanted = 3;
  ASSERT_TRUE(floatToDigits(&d, 12.0625));
  EXPECT_STREQ(d.integerDigits + d.integerStart, "12");
  EXPECT_STREQ(d.fractionDigits, "063");
  d.wanted = 31;
  ASSERT_TRUE(floatToDigits(&d, 0.5));
  EXPECT_STREQ(d.integerDigits + d.integerStart, "");
  EXPECT_STREQ(d.fractionDigits, "5");
  EXPECT_FALSE(floatToDigits(&d, 1e31 * 2));
}

}  // namespace

}  // namespace trovex
