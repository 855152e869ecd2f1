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
      {"/:@G`g", 0, "-"},
      {"1000000000", kHexTooBig, ""}};
  for (auto [text, value, rest] : reads) {
    uint64_t read = 0;
    bool digits = read_hex_code(text, read);
    EXPECT_EQ(std::string(digits ? text : "-") + " " + hex_code(read),
              std::string(rest) + " " + hex_code(value));
  }
  EXPECT_EQ(hex_text(0xA, 2) + hex_text(0x123, 2) + format_code(0xFFFFFFFB), "0A123-0x5");
}

}  // namespace
