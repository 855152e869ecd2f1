// gzip data unpacked with zlib, member after member.
#include "gunzip.h"

#include <zlib.h>

#include <algorithm>

std::string gunzip(std::string_view data, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return "zlib cannot start";
  const auto* next = reinterpret_cast<const Bytef*>(data.data());
  size_t left = data.size();
  int status = Z_OK;
  out.clear();
  while (status == Z_OK || status == Z_BUF_ERROR) {
    if (z.avail_in == 0) {  // zlib counts in 32 bits: feed a large input in parts
      z.next_in = const_cast<Bytef*>(next);
      z.avail_in = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
      next += z.avail_in;
      left -= z.avail_in;
    }
    if (out.size() >= kMaxUnpacked) break;
    size_t used = out.size();
    out.resize(std::min(used + (size_t{1} << 16), kMaxUnpacked));
    z.next_out = reinterpret_cast<Bytef*>(&out[used]);
    z.avail_out = static_cast<uInt>(out.size() - used);
    status = inflate(&z, Z_NO_FLUSH);
    out.resize(out.size() - z.avail_out);
    if (status == Z_BUF_ERROR && z.avail_in == 0 && left == 0) break;  // input ends mid-stream
    // Debian's fonts are one member; a second one is unpacked after the first.
    if (status == Z_STREAM_END && (z.avail_in > 0 || left > 0)) status = inflateReset(&z);
  }
  std::string reason = z.msg ? z.msg : "";
  inflateEnd(&z);
  if (status == Z_STREAM_END) return "";
  if (out.size() >= kMaxUnpacked) return "the gzip data unpacks to more than 64 MiB";
  if (status == Z_BUF_ERROR) return "the gzip data is cut short";
  return "the gzip data is damaged" + (reason.empty() ? "" : ": " + reason);
}
