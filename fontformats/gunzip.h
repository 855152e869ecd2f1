// Unpacking gzip data, for fonts shipped compressed. The native build does
// it with zlib (gunzip.cc); the page, which has no zlib, with stb's inflate
// (web/gunzip_stb.cc).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The most that gzip data may unpack to: far more than any bitmap font.
constexpr size_t kMaxUnpacked = size_t{64} << 20;

// Unpacks gzip data into `out`; the reason why not when the data is
// damaged, cut short or unpacks to more than 64 MiB, else empty.
std::string gunzip(std::string_view data, std::string& out);
