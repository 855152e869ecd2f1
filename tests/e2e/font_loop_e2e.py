#!/usr/bin/env python3
# End-to-end tests of the loop a user goes round: the image's font out as a picture or a font of
# another program, changed there, and back in through zenpo-convert and zenpo. Pictures are
# re-encoded here as paint programs save them, with Python's zlib alone. Run it as zenpo_e2e.py:
#     python3 tests/e2e/font_loop_e2e.py --zenpo /abs/path/to/zenpo [--runner WINE] [unittest args]
import os, pathlib, shutil, struct, subprocess, sys, zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zenpo_e2e import CG, SOURCE, Test, done, main  # noqa: E402

CONSOLE_FONT = "/usr/share/consolefonts/Lat15-VGA8.psf.gz"  # 256 glyphs of 8x8
SAMPLE = b"HELLO, WORLD 0123"


# The pixels of a PNG in RGB of 8 bits a sample, as the tools write it: (width, height, rows of
# (r, g, b, a) tuples).
def decode_png(png):
    chunks, at = {}, 8
    while at < len(png):
        size, kind = struct.unpack(">I4s", png[at:at + 8])
        chunks.setdefault(kind, []).append(png[at + 8:at + 8 + size])
        at += 12 + size
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][0][:10])
    assert (depth, colour) == (8, 2), (depth, colour)
    data, rows, stride = zlib.decompress(b"".join(chunks[b"IDAT"])), [], width * 3
    previous = bytes(stride)
    for y in range(height):
        kind, line = data[y * (stride + 1)], bytearray(data[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a, b = line[x - 3] if x >= 3 else 0, previous[x]
            c = previous[x - 3] if x >= 3 else 0
            p = a + b - c
            nearest = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[x] = (line[x] + (0, a, b, (a + b) // 2, nearest)[kind]) & 0xFF
        rows.append(line)
        previous = line
    return width, height, [[tuple(line[x:x + 3]) + (255,) for x in range(0, stride, 3)] for line in rows]


# The pixels as a PNG of `mode` (rgb, rgba, grey or palette), without a chunk of metadata.
def encode_png(width, height, pixels, mode):
    colours = sorted({p[:3] for line in pixels for p in line})
    index = {c: i for i, c in enumerate(colours)}
    colour, sample = {"rgb": (2, lambda p: bytes(p[:3])), "rgba": (6, lambda p: bytes(p)),
                      "grey": (0, lambda p: bytes([(299 * p[0] + 587 * p[1] + 114 * p[2]) // 1000])),
                      "palette": (3, lambda p: bytes([index[p[:3]]]))}[mode]
    raw = b"".join(b"\0" + b"".join(sample(p) for p in line) for line in pixels)
    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0)) + \
        (chunk(b"PLTE", b"".join(bytes(c) for c in colours)) if mode == "palette" else b"") + \
        chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


class FontLoopTest(Test):
    # A folder holding an image of a real console font, its glyphs at codes 1 to FF; the image.
    def console_image(self):
        if not os.path.exists(CONSOLE_FONT):
            self.skipTest("no " + CONSOLE_FONT)
        self.fresh({"console.psf.gz": pathlib.Path(CONSOLE_FONT).read_bytes(), CG: bytes(2048)})
        # Its box-drawing glyphs lose their rightmost column, with a warning.
        self.assertEqual(self.run_("-o", "font.txt", "console.psf.gz", program="zenpo-convert").returncode, 0)
        self.expect(self.run_("font.txt"), done())
        return self.get(CG)

    # FONTFILE converts with no option to a patch that makes a blank image `image` again.
    def expect_round_trip(self, fontfile, image, stderr=b""):
        self.put(CG, bytes(len(image)))
        self.expect(self.run_("-o", "back.txt", fontfile, program="zenpo-convert"), b"", stderr)
        self.expect(self.run_("back.txt"), done(), files={CG: image})

    def test_picture_saved_again_by_a_paint_program_converts_back(self):
        image = self.console_image()
        self.expect(self.run_("-o", "font.png", "--text", SAMPLE, program="zenpo-dump"), b"", SOURCE)
        width, height, pixels = decode_png(self.get("font.png"))
        # The sample line under the grid: each glyph's seven columns, a dot of 4x4 pixels each.
        left, top = width - 16 * 33 - 1 - 4, 18 + 16 * 33 + 1 + 8
        self.assertEqual(height - top, 32 + 16 + 4)  # the line, the legend and the margin
        for i, code in enumerate(SAMPLE):
            drawn = bytes(sum((pixels[top + 4 * r + 2][left + 28 * i + 4 * c + 2][0] < 128) << (6 - c)
                              for c in range(7)) for r in range(8))
            self.assertEqual(drawn, image[8 * code:8 * code + 8], chr(code))
        for mode in ("rgb", "rgba", "grey", "palette"):
            with self.subTest(mode=mode):
                self.put(mode + ".png", encode_png(width, height, pixels, mode))
                self.expect_round_trip(mode + ".png", image)
        # Cropped by a column of pixels: refused, and nothing written.
        self.put("cropped.png", encode_png(width - 1, height, [line[:-1] for line in pixels], "rgb"))
        proc = self.run_("-o", "no.txt", "cropped.png", program="zenpo-convert")
        self.assertEqual((proc.stdout, proc.stderr[:28], proc.returncode, os.path.exists(self.path("no.txt"))),
                         (b"", b"zenpo-convert: cropped.png: ", 1, False), proc.stderr)

    def test_picture_of_codes_past_ff_converts_back_to_them(self):
        image = bytes(range(128)) * 18 + bytes(8)  # codes 0 to 0x120, the last blank
        self.fresh({CG: image})
        self.expect(self.run_("--png", "high.png", CG, "105", "111", program="zenpo-dump"), b"")
        # Rows 100 and 110 under the column labels, with three digits of row label, and the legend.
        self.assertEqual(struct.unpack(">II", self.get("high.png")[16:24]), (565, 105))
        self.expect_round_trip("high.png", bytes(0x105 * 8) + image[0x105 * 8:0x112 * 8] + bytes(0x78))

    def test_plain_sheet_converts_with_no_options(self):
        glyph = lambda code: bytes((code * 7 + r * 13) & 0x7F for r in range(8))  # first column blank
        pixels = [[(0, 0, 0, 255) if glyph(16 * (y // 8) + x // 8)[y % 8] << (x % 8) & 0x80 else
                   (255, 255, 255, 255) for x in range(128)] for y in range(128)]
        self.fresh({"sheet.png": encode_png(128, 128, pixels, "grey")})
        self.expect_round_trip("sheet.png", bytes(8) + b"".join(glyph(c) for c in range(1, 256)))
        # Drawn light on dark, the same glyphs; the heading says which colour is the paper.
        light = [[tuple(255 - v for v in p[:3]) + (255,) for p in line] for line in pixels]
        self.put("light.png", encode_png(128, 128, light, "rgb"))
        self.expect_round_trip("light.png", bytes(8) + b"".join(glyph(c) for c in range(1, 256)))
        self.assertEqual(self.get("back.txt").split(b"\n")[0], b"; Converted from light.png: PNG sheet, "
                         b"256 glyphs of 8x8, light on dark paper (the commoner colour of its cells).")

    def test_each_font_format_through_its_reader_and_back(self):
        image = self.console_image()
        for extension, reader in [("bdf", ["bdftopcf", "-o", "font.pcf", "font.bdf"]),
                                  ("psf", ["psfxtable", "-i", "font.psf", "-o", "copy.psf"]), ("hex", None)]:
            with self.subTest(extension=extension):
                name = "font." + extension
                self.expect(self.run_("-o", name, program="zenpo-dump"), b"", SOURCE)
                if reader and shutil.which(reader[0]):
                    proc = subprocess.run(reader, cwd=self.dir, capture_output=True)
                    self.assertEqual((proc.returncode, proc.stderr), (0, b""), reader)
                self.expect_round_trip(name, image)
                # A font that zenpo-convert wrote comes back the same way.
                self.expect(self.run_("-o", "again." + extension, name, program="zenpo-convert"), b"")
                self.assertEqual(self.get("again." + extension)[:4], self.get(name)[:4])  # the same format
                self.expect_round_trip("again." + extension, image)


if __name__ == "__main__":
    main()
