// gzip data unpacked with stb's inflate, for the page: emscripten has no
// zlib of its own without a download. The same limits and messages as the
// zlib build's, but that stb names the damage in its own words.
#include <cstdint>
#include <cstdlib>

#include "gunzip.h"

namespace {

// A block of `size` bytes, null past the limit: a gzip bomb fails instead
// of filling memory.
void* bounded_realloc(void* block, size_t size) {
  return size > kMaxUnpacked + (size_t{1} << 16) ? nullptr : std::realloc(block, size);
}

}  // namespace

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MALLOC(size) bounded_realloc(nullptr, size)
#define STBI_REALLOC(block, size) bounded_realloc(block, size)
#define STBI_FREE(block) std::free(block)
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wunused-function"
#endif
#include <stb_image.h>
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace {

// The gzip flags that put fields between the header and the data.
constexpr uint8_t kExtra = 4, kName = 8, kComment = 16, kHeaderCrc = 2;

// The offset of the deflate data of the member at `at`, past its header's
// fields; 0 with the reason in `error` when the header is cut short or is
// no gzip header.
size_t data_start(std::string_view data, size_t at, std::string& error) {
  error = "the gzip data is cut short";
  // zlib's words for a header that is no gzip member's.
  if (data.size() - at >= 2 && (data[at] != '\x1f' || data[at + 1] != '\x8b'))
    error = "the gzip data is damaged: incorrect header check";
  else if (data.size() - at >= 3 && data[at + 2] != 8)
    error = "the gzip data is damaged: unknown compression method";
  if (data.size() - at < 10 || data[at] != '\x1f' || data[at + 1] != '\x8b' || data[at + 2] != 8)
    return 0;
  auto flags = static_cast<uint8_t>(data[at + 3]);
  size_t p = at + 10;
  if (flags & kExtra) {
    if (data.size() - p < 2) return 0;
    p += 2 + (static_cast<uint8_t>(data[p]) | static_cast<uint8_t>(data[p + 1]) << 8);
  }
  for (uint8_t field : {kName, kComment}) {
    if (!(flags & field)) continue;
    size_t end = data.find('\0', p < data.size() ? p : data.size());
    if (end == std::string_view::npos) return 0;
    p = end + 1;
  }
  if (flags & kHeaderCrc) p += 2;
  return p <= data.size() ? p : 0;
}

// The 32-bit little-endian number at `p`.
uint32_t le32(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

}  // namespace

std::string gunzip(std::string_view data, std::string& out) {
  out.clear();
  size_t at = 0;
  while (at < data.size()) {
    std::string error;
    size_t start = data_start(data, at, error);
    if (start == 0) return error;
    stbi__zbuf z{};
    z.zbuffer = reinterpret_cast<stbi_uc*>(const_cast<char*>(data.data() + start));
    z.zbuffer_end = reinterpret_cast<stbi_uc*>(const_cast<char*>(data.data() + data.size()));
    char* block = static_cast<char*>(STBI_MALLOC(1 << 16));
    if (!block) return "the gzip data unpacks to more than 64 MiB";
    int done = stbi__do_zlib(&z, block, 1 << 16, 1, 0);
    size_t size = done ? static_cast<size_t>(z.zout - z.zout_start) : 0;
    if (done) out.append(z.zout_start, size);
    std::free(z.zout_start);
    if (!done) {
      // stb reads zeros past the end: a failure there is data cut short.
      if (z.zbuffer >= z.zbuffer_end) return "the gzip data is cut short";
      const char* why = stbi_failure_reason();
      if (out.size() + (size_t{1} << 16) >= kMaxUnpacked)
        return "the gzip data unpacks to more than 64 MiB";
      return std::string("the gzip data is damaged") + (why ? std::string(": ") + why : "");
    }
    // The bits read ahead belong to the trailer: its CRC and size follow.
    size_t end = static_cast<size_t>(reinterpret_cast<const char*>(z.zbuffer) - data.data()) -
                 static_cast<size_t>(z.num_bits / 8);
    if (data.size() - end < 8) return "the gzip data is cut short";
    if (out.size() > kMaxUnpacked) return "the gzip data unpacks to more than 64 MiB";
    if (le32(data.data() + end + 4) != static_cast<uint32_t>(size))
      return "the gzip data is damaged: its length does not match";
    at = end + 8;
  }
  return "";
}
