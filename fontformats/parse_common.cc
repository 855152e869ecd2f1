#include "parse_common.h"

#include <utility>

Font& fail_font(Font& font, uint64_t line, std::string text) {
  font.failed = true;
  font.error = {line, std::move(text)};
  return font;
}

std::string_view next_line(std::string_view& text) {
  size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}
