#!/usr/bin/env python3
# End-to-end tests of the loop a user goes round: the image's font out as a picture or a font of
# another program, changed there, and back in through zenpo-convert and zenpo. Pictures are
# re-encoded here as paint programs save them, with Python's zlib alone. Run it as zenpo_e2e.py:
#     python3 tests/e2e/font_loop_e2e.py --zenpo /abs/path/to/zenpo [--runner WINE] [unittest args]
import gzip, os, shutil, struct, subprocess, sys, unittest, zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zenpo_e2e import CG, Test, done, main  # noqa: E402

CONSOLE_FONT = "/usr/share/consolefonts/Lat15-VGA8.psf.gz"  # 256 glyphs of 8x8
SAMPLE = b"HELLO, WORLD 0123"


# The pixels of a PNG of 8 bits a sample: (width, height, rows of (r, g, b, a) tuples).
def decode_png(png):
    chunks, at = {}, 8
    while at < len(png):
        size, kind = struct.unpack(">I4s", png[at:at + 8])
        chunks.setdefault(kind, []).append(png[at + 8:at + 8 + size])
        at += 12 + size
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][0][:10])
    assert depth == 8, depth
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    data, rows, previous = zlib.decompress(b"".join(chunks[b"IDAT"])), [], bytes(width * channels)
    stride = width * channels
    for y in range(height):
        kind, line = data[y * (stride + 1)], bytearray(data[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a, b = line[x - channels] if x >= channels else 0, previous[x]
            c = previous[x - channels] if x >= channels else 0
            p = a + b - c
            nearest = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[x] = (line[x] + (0, a, b, (a + b) // 2, nearest)[kind]) & 0xFF
        rows.append(line)
        previous = line
    palette = chunks.get(b"PLTE", [b""])[0]
    def pixel(line, x):
        v = line[x * channels:(x + 1) * channels]
        return {0: lambda: (v[0],) * 3 + (255,), 2: lambda: tuple(v) + (255,), 4: lambda: (v[0],) * 3 + (v[1],),
                3: lambda: tuple(palette[3 * v[0]:3 * v[0] + 3]) + (255,), 6: lambda: tuple(v)}[colour]()
    return width, height, [[pixel(line, x) for x in range(width)] for line in rows]


# The pixels as a PNG of `mode` (rgb, rgba, grey or palette), without a chunk of metadata.
def encode_png(width, height, pixels, mode):
    colours = sorted({p[:3] for line in pixels for p in line})
    index = {c: i for i, c in enumerate(colours)}
    sample = {"rgb": lambda p: bytes(p[:3]), "rgba": lambda p: bytes(p),
              "grey": lambda p: bytes([(299 * p[0] + 587 * p[1] + 114 * p[2]) // 1000]),
              "palette": lambda p: bytes([index[p[:3]]])}[mode]
    raw = b"".join(b"\0" + b"".join(sample(p) for p in line) for line in pixels)
    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data))
    colour = {"rgb": 2, "rgba": 6, "grey": 0, "palette": 3}[mode]
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0)) + \
        (chunk(b"PLTE", b"".join(bytes(c) for c in colours)) if mode == "palette" else b"") + \
        chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


class FontLoopTest(Test):
    # A folder holding an image of a real console font, its glyphs at codes 1 to FF; the image.
    def console_image(self):
        if not os.path.exists(CONSOLE_FONT):
            self.skipTest("no " + CONSOLE_FONT)
        self.fresh({"console.psf.gz": pathlib_bytes(CONSOLE_FONT), CG: bytes(2048)})
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
        self.expect(self.run_("-o", "font.png", "--text", SAMPLE, program="zenpo-dump"), b"",
                    b"Source file is the SUBSYSCG.ROM\n")
        width, height, pixels = decode_png(self.get("font.png"))
        for mode in ("rgb", "rgba", "grey", "palette"):
            with self.subTest(mode=mode):
                self.put(mode + ".png", encode_png(width, height, pixels, mode))
                self.expect_round_trip(mode + ".png", image)
        # A cell painted white is a blank glyph: 'A' is erased.
        left = width - 16 * 33 - 1 - 4
        for y in range(19 + 4 * 33, 19 + 4 * 33 + 32):
            pixels[y][left + 1 + 33:left + 1 + 33 + 32] = [(255, 255, 255, 255)] * 32
        self.put("erased.png", encode_png(width, height, pixels, "palette"))
        self.expect_round_trip("erased.png", image[:0x208] + bytes(8) + image[0x210:])
        # Cropped by a column of pixels: refused, and nothing written.
        self.put("cropped.png", encode_png(width - 1, height, [line[:-1] for line in pixels], "rgb"))
        proc = self.run_("-o", "no.txt", "cropped.png", program="zenpo-convert")
        self.assertEqual((proc.stdout, proc.returncode), (b"", 1))
        self.assertTrue(proc.stderr.startswith(b"zenpo-convert: cropped.png: "), proc.stderr)
        self.assertFalse(os.path.exists(self.path("no.txt")))

    def test_sample_line_shows_the_text_in_the_font(self):
        image = self.console_image()
        self.expect(self.run_("-o", "plain.png", program="zenpo-dump"), b"", b"Source file is the SUBSYSCG.ROM\n")
        self.expect(self.run_("-o", "s.png", "--text", SAMPLE, program="zenpo-dump"), b"",
                    b"Source file is the SUBSYSCG.ROM\n")
        _, plain_height, _ = decode_png(self.get("plain.png"))
        width, height, pixels = decode_png(self.get("s.png"))
        self.assertEqual(height - plain_height, 40)  # one line of text
        left, top = width - 16 * 33 - 1 - 4, 18 + 16 * 33 + 1 + 8
        for i, code in enumerate(SAMPLE):  # each glyph's seven columns, a dot of 4x4 pixels each
            drawn = bytes(sum((pixels[top + 4 * r + 2][left + 28 * i + 4 * c + 2][0] < 128) << (6 - c)
                              for c in range(7)) for r in range(8))
            self.assertEqual(drawn, image[8 * code:8 * code + 8], chr(code))

    def test_picture_of_codes_past_ff_converts_back_to_them(self):
        image = bytes(range(128)) * 18 + bytes(8)  # codes 0 to 0x120, the last blank
        self.fresh({CG: image})
        self.expect(self.run_("-o", "high.png", CG, "105", "111", program="zenpo-dump"), b"")
        self.expect_round_trip("high.png", bytes(0x105 * 8) + image[0x105 * 8:0x112 * 8] + bytes(0x78))

    def test_plain_sheet_converts_with_no_options(self):
        glyph = lambda code: bytes((code * 7 + r * 13) & 0x7F for r in range(8))  # first column blank
        pixels = [[(0, 0, 0, 255) if glyph(16 * (y // 8) + x // 8)[y % 8] << (x % 8) & 0x80 else
                   (255, 255, 255, 255) for x in range(128)] for y in range(128)]
        self.fresh({"sheet.png": encode_png(128, 128, pixels, "grey")})
        self.expect_round_trip("sheet.png", bytes(8) + b"".join(glyph(c) for c in range(1, 256)))

    def test_each_font_format_through_its_reader_and_back(self):
        image = self.console_image()
        readers = {"bdf": ["bdftopcf", "-o", "font.pcf", "font.bdf"],
                   "psf": ["psfxtable", "-i", "font.psf", "-o", "copy.psf"]}
        for extension in ("bdf", "psf", "hex"):
            with self.subTest(extension=extension):
                name = "font." + extension
                self.expect(self.run_("-o", name, program="zenpo-dump"), b"",
                            b"Source file is the SUBSYSCG.ROM\n")
                reader = readers.get(extension)
                if reader and shutil.which(reader[0]):
                    proc = subprocess.run(reader, cwd=self.dir, capture_output=True)
                    self.assertEqual((proc.returncode, proc.stderr), (0, b""), reader)
                self.expect_round_trip(name, image)
                # A font that zenpo-convert wrote comes back the same way.
                self.expect(self.run_("-o", "again." + extension, name, program="zenpo-convert"), b"")
                self.expect_round_trip("again." + extension, image)


def pathlib_bytes(path):
    with open(path, "rb") as f:
        return f.read()


if __name__ == "__main__":
    main()
