// Text, character and memory-dump conversions and the directive parser.
#include <gtest/gtest.h>

#include "support.h"

namespace {

TEST(FormatText, PlainTextAndPercent) {
  EXPECT_EQ(formatted(""), "");
  EXPECT_EQ(formatted("%%"), "%");
  EXPECT_EQ(formatted("%5%"), "%");
}

}  // namespace
