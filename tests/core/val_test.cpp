// The numeric conversion the hour check and start-up apply to value fields.
#include <gtest/gtest.h>

#include "store/module1.h"

namespace qorvel::store {
namespace {

TEST(Val, ReadsTheLeadingNumberAsBasicDoes) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"8", 8},          {"08", 8},          {"8.5", 8.5},        {"23", 23},        {"", 0},
      {"abc", 0},        {"x8", 0},          {"12abc", 12},       {"  \t\n7", 7},    {"1 2", 12},
      {"- 5", -5},       {"+5", 5},          {"-", 0},            {"+-5", 0},        {".5", 0.5},
      {"-.5", -0.5},     {"5.", 5},          {"1.2.3", 1.2},      {"1,000", 1},      {"1e3", 1000},
      {"1E-2", 0.01},    {"2d2", 200},       {"1e", 1},           {"1e+", 1},        {"1 e 2", 100},
      {"&H1F", 31},      {"&hff", 255},      {"&H7FFF", 32767},   {"&H8000", -32768}, {"&HFFFF", -1},
      {"&H10000", 65536}, {"&HFFFFFFFF", -1}, {"&O17", 15},        {"&o777", 511},    {"&O8", 0},
      {"&H", 0},         {"&X1", 0},         {" &H 1F", 31},      {"12=13", 12},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(Val(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace qorvel::store
