// The font-patch text, written: the text that patches the given bytes back.
#pragma once

#include <cstdint>
#include <string>

// The character of a set column in written rows; '0' is a clear one. It
// starts no comment or header, so a row never reads as one.
constexpr char kSetColumn = '1';

// Appends the text of glyph `code` with the eight bytes `rows`: a comment for
// each row whose bit 7 the text cannot carry, the header and eight rows of
// seven columns. Returns the number of rows with bit 7 set.
int append_glyph_text(std::string& out, uint32_t code, const uint8_t* rows);
