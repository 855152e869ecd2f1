// Fuzz target of the journal's reader: any bytes as the journal of an image.
// A journal that check_journal() passes must hold (checked here apart from
// it: its checksum, its name, its extents inside the image's old size, the
// image's size between its old and new); applied, it writes its old bytes
// and nothing else, inside the old size, to which the image is cut. One
// that fails is never applied. The first byte of an input chooses the
// image's size and whether its checksum is made right, so that the checks
// after the checksum's are reached too.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "files.h"
#include "fuzz_common.h"
#include "rom_journal.h"

namespace {

constexpr char kName[] = "SUBSYSCG.ROM";
constexpr uint64_t kLargestImage = 1 << 16;

uint64_t get_u64(const std::string& bytes, size_t at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The Adler-32 of `journal`, its bytes 12 to 15 taken as zero.
uint32_t adler_of(std::string journal) {
  std::fill_n(journal.begin() + 12, 4, '\0');
  return static_cast<uint32_t>(adler32(1, reinterpret_cast<const Bytef*>(journal.data()),
                                       static_cast<uInt>(journal.size())));
}

// A new unbuffered temporary file holding `bytes`.
FILE* file_of(const std::string& bytes) {
  FILE* file = std::tmpfile();
  check(file != nullptr && std::setvbuf(file, nullptr, _IONBF, 0) == 0 &&
            std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(),
        "cannot make a temporary file");
  return file;
}

// The bytes of `file`.
std::string bytes_of(FILE* file) {
  int64_t size = regular_file_size(file);
  std::string bytes(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  check(size >= 0 && read_file_at(file, 0, bytes.data(), bytes.size()), "cannot read a file back");
  return bytes;
}

// Checks that the journal `j`, passed, is what its checks say.
void check_passed(const std::string& j, const JournalHead& head, uint64_t image_size) {
  check(j.size() >= 48 && std::memcmp(j.data(), "zenpojnl", 8) == 0, "a journal without its magic");
  uint32_t stored = 0;
  for (int i = 3; i >= 0; --i) stored = stored << 8 | static_cast<unsigned char>(j[12 + i]);
  check(stored == adler_of(j), "a journal whose checksum does not match");
  // The name in any case of its ASCII letters, as Windows and FAT take it.
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  std::string name = head.name;
  std::transform(name.begin(), name.end(), name.begin(), upper);
  check(name == kName, "the journal of another name");
  check(static_cast<int64_t>(image_size) >= head.old_size &&
            static_cast<int64_t>(image_size) <= head.new_size,
        "the journal of an image of another size");
  int64_t end = 0;
  for (const RomExtent& e : head.extents) {
    check(e.size > 0 && e.offset >= end && e.offset + e.size <= head.old_size,
          "an extent out of order or past the old size");
    end = e.offset + e.size;
  }
  check(head.data_at + head.old_bytes == static_cast<int64_t>(j.size()),
        "a journal of another size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t how = data[0];
  std::string j(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((how & 1) && j.size() >= 16) {
    uint32_t adler = adler_of(j);
    for (int i = 0; i < 4; ++i) j[12 + i] = static_cast<char>(adler >> (8 * i));
  }
  // The image: as large as the header's old size, its new one or neither.
  uint64_t sizes[3] = {j.size() >= 32 ? get_u64(j, 16) : 0, j.size() >= 32 ? get_u64(j, 24) : 0,
                       uint64_t{how} * 37};
  uint64_t image_size = std::min(sizes[(how >> 1) % 3], kLargestImage);
  std::string image(static_cast<size_t>(image_size), '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13 + 5);
  FILE* journal = file_of(j);
  FILE* rom = file_of(image);
  JournalHead head;
  std::string reason;
  JournalState state = check_journal(journal, static_cast<int64_t>(j.size()), kName,
                                     static_cast<int64_t>(image_size), head, reason);
  check(state == JournalState::refused ? !reason.empty()
        : state == JournalState::unfinished
            ? std::all_of(j.begin(),
                          j.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(j.size(), 48)),
                          [](char c) { return c == 0; })
            : reason.empty(),
        "a state that its reason does not bear out");
  if (state == JournalState::good) {
    check_passed(j, head, image_size);
    check(apply_journal(journal, head, rom), "a journal that passed cannot be applied");
    std::string want = image.substr(0, static_cast<size_t>(head.old_size));
    int64_t at = head.data_at;
    for (const RomExtent& e : head.extents) {
      want.replace(static_cast<size_t>(e.offset), static_cast<size_t>(e.size), j,
                   static_cast<size_t>(at), static_cast<size_t>(e.size));
      at += e.size;
    }
    check(bytes_of(rom) == want, "the image applied is not its old bytes alone, in its old size");
  } else {
    check(bytes_of(rom) == image, "a journal that failed its checks changed the image");
  }
  (void)std::fclose(journal);
  (void)std::fclose(rom);
  return 0;
}
