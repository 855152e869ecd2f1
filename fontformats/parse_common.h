// What the parsers of this folder share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "font_formats.h"

// Marks `font` failed with the error TEXT about `line`; returns it.
Font& fail_font(Font& font, uint64_t line, std::string text);

// Takes the first line of `text` off it: the bytes up to a LF, without the
// LF and a CR before it.
std::string_view next_line(std::string_view& text);
