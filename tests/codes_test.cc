#include "codes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Codes, HexadecimalReadsAndWrites) {
  // Each text, the value read and what is left of it; "-" when no digit is read.
  const std::tuple<std::string_view, uint64_t, std::string_view> reads[] = {
      {"09afAF:", 0x09AFAF, ":"},
      {"0x1g", 1, "g"},
      {"0X", 0, "X"},
      {"0x", 0, "x"},
      {"/:@G`g", 0, "-"},
      {"1000000000", kHexTooBig, ""},
      {"FFFFFFFF", 0xFFFFFFFF, ""}};
  for (auto [text, value, rest] : reads) {
    uint64_t read = 0;
    std::string_view left = text;
    bool digits = read_hex_code(left, read);
    EXPECT_EQ(digits ? std::string(left) : "-", rest) << text;
    EXPECT_EQ(read, value) << text;
  }
  EXPECT_EQ(hex_text(0xA, 2) + hex_text(0x123, 2) + " " + format_code(0xFFFFFFFB) + " " +
                format_code(0x7FFFFFFF) + " " + hex_code(kHexTooBig),
            "0A123 -0x5 0x7FFFFFFF 0x100000000");
}

}  // namespace
