#!/usr/bin/env python3
"""End-to-end tests: run the built zenpo in a fresh folder per case, as a user would.

    python3 tests/e2e/zenpo_e2e.py --zenpo /abs/path/to/zenpo [unittest args]
"""
import argparse
import glob
import gzip
import os
import resource
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

ZENPO = None  # set from --zenpo
DUMP = None  # zenpo-dump, beside zenpo
CONVERT = None  # zenpo-convert, beside zenpo
RUNNER = []  # set from --runner: what runs zenpo, e.g. wine for zenpo.exe
WINDOWS = False  # zenpo is a Windows program

BANNER = b"KT5(V1) Font patch tool v0.1\nWritten by the zenpo authors\n"
USAGE = [
    "SYNOPSIS: zenpo fontfile",
    "fontfileの拡張子が'txt'のときは、フォントパッチ形式",
    "    〃            'bin'のときは、バイナリフォント形式",
    "としてROM file(SUBSYS_C.ROMまたはSUBSYSCG.ROM)の中身を書き換える",
    "SUBSYSCG.ROMはKT5 V2用のファイルで、SUBSYS_C.ROMはKT5 V1用のファイルです",
    "このプログラムは、先にSUBSYSCG.ROMをオープンし、だめならSUBSYS_C.ROMをオープンしようとします",
    "SUBSYS_C.ROMまたは、SUBSYSCG.ROMファイルは、このファイルと同じディレクトリにおいておく必要があります",
]
CG, C = "SUBSYSCG.ROM", "SUBSYS_C.ROM"
IMAGE = bytes(range(256)) * 8  # 2048 bytes, every offset recognisable
ROWS_A = ["0001000", "0010100", "0100010", "0100010", "0111110", "0100010", "0100010", "0000000"]
BYTES_A = bytes.fromhex("08 14 22 22 3E 22 22 00")
FULL = ["1111111"] * 8


def usage(encoding="shift_jis"):
    return b"".join(line.encode(encoding) + b"\n" for line in USAGE)


def target(name):
    return b"Target file is the " + name.encode() + b"\n"


def done(name=CG):
    return BANNER + target(name) + b"Done!\n"


def patch(*lines, eol="\n"):
    """Patch text from lines and lists of lines, each line ended by eol."""
    flat = []
    for item in lines:
        flat.extend([item] if isinstance(item, str) else item)
    return "".join(line + eol for line in flat).encode("latin-1")


def warning(line, text, name="font.txt"):
    return ("%s:%d: warning: %s\n" % (name, line, text)).encode()


def with_glyph(image, code, rows):
    return image[:code * 8] + rows + image[code * 8 + len(rows):]


PATCH_A, IMAGE_A = patch("@41", ROWS_A), with_glyph(IMAGE, 0x41, BYTES_A)


def environment(env=None):
    """The environment of a run: LC_ALL=C unless `env` says otherwise; Wine kept quiet."""
    base = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_CTYPE", "LANG")}
    base.update({"LC_ALL": "C"} if env is None else env)
    base.update({"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
                if RUNNER else {})
    return base


class ZenpoTest(unittest.TestCase):
    def setUp(self):
        self.fresh()

    def fresh(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, data):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as f:
            f.write(data)

    def get(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def run_zenpo(self, *args, env=None, merge=False, user=None, program=None, runner=(),
                  preexec_fn=None):
        ids = {} if user is None else {"user": user, "group": user, "extra_groups": []}
        proc = subprocess.run([*runner, *RUNNER, program or ZENPO, *args], cwd=self.dir,
                              env=environment(env), timeout=60, preexec_fn=preexec_fn, **ids,
                              stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT if merge else subprocess.PIPE)
        if WINDOWS:  # its console lines end in CR LF
            proc.stdout = proc.stdout.replace(b"\r\n", b"\n")
            proc.stderr = proc.stderr and proc.stderr.replace(b"\r\n", b"\n")
        return proc

    def skip_on_windows(self, why):
        if WINDOWS:
            self.skipTest("not on Windows: " + why)

    def check(self, proc, stdout, stderr=b"", status=0):
        self.assertEqual((proc.stdout, proc.stderr or b"", proc.returncode), (stdout, stderr, status))

    def import_text(self, text, image=IMAGE, stderr=b""):
        """Run a patch over SUBSYSCG.ROM, expect success, return the new image."""
        self.put(CG, image)
        self.put("font.txt", text)
        self.check(self.run_zenpo("font.txt"), done(), stderr)
        return self.get(CG)


class ArgumentTest(ZenpoTest):
    def test_wrong_argument_count_prints_usage(self):
        for args in ([], ["font.txt", "font.txt"]):
            with self.subTest(args=args):
                self.put(CG, IMAGE)
                self.put("font.txt", PATCH_A)
                self.check(self.run_zenpo(*args), BANNER + usage(), status=1)
                self.assertEqual(self.get(CG), IMAGE)

    def test_text_extension_any_case(self):
        for name in ("FONT.TXT", "font.Txt", "txt", "my.fonts/a.txt"):
            with self.subTest(name=name):
                self.put(CG, IMAGE)
                self.put(name, PATCH_A)
                self.check(self.run_zenpo(name), done())
                self.assertEqual(self.get(CG), IMAGE_A)

    def test_file_name_in_any_script(self):
        self.put(CG, IMAGE)
        self.put("フォント.txt", PATCH_A)
        self.check(self.run_zenpo("フォント.txt", env={"LC_ALL": "C.UTF-8"}), done())
        self.assertEqual(self.get(CG), IMAGE_A)

    def test_binary_extension_any_case(self):
        for name in ("glyphs.BIN", "glyphs.bin", "a.txt.Bin"):
            with self.subTest(name=name):
                self.put(CG, IMAGE)
                self.put(name, b"@41\n0001000\n")
                self.check(self.run_zenpo(name), done())
                self.assertEqual(self.get(CG), b"@41\n0001000\n" + IMAGE[12:])

    def test_unsupported_extension_opens_nothing(self):
        for name in ("font.", "font.txt.bak", "fonts.new/glyphs", "charsetimage", "font.bi", ".txtx"):
            with self.subTest(name=name):
                self.put(CG, IMAGE)
                self.put(name, PATCH_A)
                self.check(self.run_zenpo(name),
                           BANNER + b"Unsupported file specified\n" + usage(), status=1)
                self.assertEqual(self.get(CG), IMAGE)


class UsageEncodingTest(ZenpoTest):
    def test_usage_follows_locale_codeset(self):
        cases = [({"LC_ALL": "C"}, "shift_jis"), ({}, "shift_jis"),
                 ({"LC_ALL": "C.UTF-8"}, "utf-8"), ({"LANG": "C.UTF-8"}, "utf-8"),
                 ({"LC_CTYPE": "C.UTF-8", "LANG": "C"}, "utf-8"),
                 ({"LC_ALL": "C", "LANG": "C.UTF-8"}, "shift_jis")]
        for env, encoding in cases:
            encoding = "shift_jis" if WINDOWS else encoding  # output to a pipe, not a console
            with self.subTest(env=env):
                proc = self.run_zenpo(env=env)
                self.check(proc, BANNER + usage(encoding), status=1)
                lines = proc.stdout.split(b"\n")[2:9]
                self.assertEqual([line.decode(encoding) for line in lines], USAGE)

    def test_ditto_mark_lines_up_under_txt(self):
        def column(line, word):  # Japanese characters take two columns
            return sum(2 if ord(ch) > 127 else 1 for ch in line[:line.index(word)])
        self.assertEqual(column(USAGE[2], "'bin'"), column(USAGE[1], "'txt'"))
        sjis = self.run_zenpo().stdout.split(b"\n")
        self.assertEqual(sjis[4].index(b"'bin'"), sjis[3].index(b"'txt'"))


class TargetTest(ZenpoTest):
    def test_cg_image_preferred_and_other_untouched(self):
        self.put(CG, IMAGE)
        self.put(C, IMAGE)
        os.utime(self.path(C), ns=(1_000_000_000 * 10**9,) * 2)
        self.put("font.txt", PATCH_A)
        self.check(self.run_zenpo("font.txt"), done(CG))
        self.assertEqual(self.get(CG), IMAGE_A)
        self.assertEqual(self.get(C), IMAGE)
        self.assertEqual(os.stat(self.path(C)).st_mtime_ns, 1_000_000_000 * 10**9)

    def test_falls_back_to_c_image(self):
        for setup in ("missing", "directory", "read-only"):
            with self.subTest(cg=setup):
                self.fresh()
                user = None
                if setup == "directory":
                    os.mkdir(self.path(CG))
                elif setup == "read-only":
                    self.put(CG, IMAGE)
                    os.chmod(self.path(CG), 0o444)
                    if WINDOWS:
                        continue  # Wine would need a prefix of the other user's own
                    if os.geteuid() == 0:  # root opens it for writing all the same
                        user = 65534
                        os.chmod(self.dir, 0o777)
                self.put(C, IMAGE)
                os.chmod(self.path(C), 0o666)
                self.put("font.txt", PATCH_A)
                # The other user may not enter the build folder: it runs a copy.
                program = user and shutil.copy(ZENPO, self.path("zenpo"))
                self.check(self.run_zenpo("font.txt", user=user, program=program), done(C))
                self.assertEqual(self.get(C), IMAGE_A)

    def test_no_target(self):
        self.put("font.txt", PATCH_A)
        self.check(self.run_zenpo("font.txt"), BANNER,
                   b"Failed to open 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' file: "
                   b"No such file or directory\n", 1)
        self.assertEqual(sorted(os.listdir(self.dir)), ["font.txt"])

    def test_no_target_when_both_are_directories(self):
        os.mkdir(self.path(CG))
        os.mkdir(self.path(C))
        self.put("font.txt", PATCH_A)
        reason = b"Permission denied" if WINDOWS else b"Is a directory"
        self.check(self.run_zenpo("font.txt"), BANNER,
                   b"Failed to open 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' file: " + reason + b"\n", 1)

    def test_image_behind_a_link_is_patched_through_it(self):
        self.skip_on_windows("symbolic links are a POSIX facility here")
        self.put("images/real.rom", IMAGE)
        os.symlink("images/real.rom", self.path(CG))
        self.put("font.txt", PATCH_A)
        self.check(self.run_zenpo("font.txt"), done())
        self.assertEqual(self.get("images/real.rom"), IMAGE_A)
        self.assertEqual(os.readlink(self.path(CG)), "images/real.rom")

    def test_missing_font_run_order(self):
        self.put(CG, IMAGE)
        for name in ("font.txt", "font.bin"):
            with self.subTest(name=name):
                self.check(self.run_zenpo(name, merge=True), BANNER + target(CG) +
                           b"Failed to open font file: No such file or directory\n", status=1)
                self.assertEqual(self.get(CG), IMAGE)


class TextImportTest(ZenpoTest):
    # The parser's rules (header spellings, columns, comments) have unit tests;
    # these check what a whole run makes of them.
    def test_ctrl_z_ends_text(self):
        text = patch("@41", ROWS_A[:4]) + b"\x1a" + patch(ROWS_A[4:], "@42", FULL)
        image = self.import_text(text, stderr=warning(1, "glyph 0x41 ends after 4 of its 8 rows; "
                                                          "the others keep their old bytes"))
        self.assertEqual(image, with_glyph(IMAGE, 0x41, BYTES_A[:4]))

    def test_long_lines_are_single_lines(self):
        text = patch("@41", ";" + "0" * 99_999, ROWS_A[0] + "0" * 99_993, ROWS_A[1:], "@42", "0000000")
        image = self.import_text(text, stderr=warning(11, "glyph 0x42 ends after 1 of its 8 rows; "
                                                           "the others keep their old bytes"))
        self.assertEqual(image, with_glyph(IMAGE_A, 0x42, b"\0"))

    def test_header_ends_short_glyph(self):
        text = patch("@41", ROWS_A[:5], "@42", ROWS_A, "@43")
        image = self.import_text(text, stderr=warning(
            1, "glyph 0x41 ends after 5 of its 8 rows; the others keep their old bytes") + warning(
            16, "glyph 0x43 ends after 0 of its 8 rows; the others keep their old bytes"))
        self.assertEqual(image, with_glyph(with_glyph(IMAGE, 0x41, BYTES_A[:5]), 0x42, BYTES_A))

    def test_header_without_code_drops_rows(self):
        for header in ("@", "@zz", "@ -"):
            with self.subTest(header=header):
                text = patch("@41", ROWS_A[:3], header, FULL)
                image = self.import_text(text, stderr=warning(
                    1, "glyph 0x41 ends after 3 of its 8 rows; the others keep their old bytes") +
                    warning(5, "header has no hexadecimal code; the rows after it are ignored"))
                self.assertEqual(image, with_glyph(IMAGE, 0x41, BYTES_A[:3]))

    def test_codes_out_of_range_skipped(self):
        for header, text in [("@100000000", "code 0 cannot be patched"),
                             ("@FFFFFFFB", "code -0x5 is negative"),
                             ("@10000000", "code 0x10000000 is past the largest code 0xFFFFFFF")]:
            with self.subTest(header=header):
                image = self.import_text(patch("; skipped", header, FULL),
                                         stderr=warning(2, text + "; glyph skipped"))
                self.assertEqual(image, IMAGE)

    def test_image_grows(self):
        for code, size in [(0x100, 0x808), (0x101, 0x810)]:
            with self.subTest(code=code):
                text = patch("@%x" % code, ROWS_A, "@41", ROWS_A)
                image = self.import_text(text, stderr=warning(
                    1, "the image grows from 2048 to %d bytes" % size))
                expected = IMAGE_A + bytes(size - 2048 - 8) + BYTES_A
                self.assertEqual(image, expected)

    def test_duplicate_code_later_rows_win(self):
        self.put(CG, IMAGE)
        self.put("font.txt", patch("@41", FULL, "@0x41", ROWS_A[:4]))
        proc = self.run_zenpo("font.txt")
        self.assertEqual((proc.stdout, proc.returncode), (done(), 0))
        # both warnings are about line 10; their order is not fixed
        self.assertCountEqual(proc.stderr.splitlines(keepends=True), [
            warning(10, "code 0x41 was already given at line 1; the later rows win"),
            warning(10, "glyph 0x41 ends after 4 of its 8 rows; the others keep their old bytes")])
        self.assertEqual(self.get(CG), with_glyph(IMAGE, 0x41, BYTES_A[:4] + b"\x7f" * 4))


class BinaryImportTest(ZenpoTest):
    DATA = b"\x1a\r\n\x00\xff\r\n\x1a" + bytes(range(0x80, 0x88))

    def test_binary_import(self):
        grown = (self.DATA * 200)[:3000]
        grows = b"glyphs.bin: warning: the image grows from 2048 to 3000 bytes\n"
        for data, stderr in [(self.DATA, b""), (b"", b""), (grown, grows)]:
            with self.subTest(size=len(data)):
                self.put(CG, IMAGE)
                self.put("glyphs.bin", data)
                self.check(self.run_zenpo("glyphs.bin"), done(), stderr)
                self.assertEqual(self.get(CG), data + IMAGE[len(data):])


class FailureTest(ZenpoTest):
    def test_font_file_is_directory(self):
        for name in ("dir.txt", "dir.bin"):
            with self.subTest(name=name):
                self.put(CG, IMAGE)
                os.mkdir(self.path(name))
                # Windows refuses to open a directory as a file at all.
                error = b"open font file: Permission denied" if WINDOWS else \
                    b"read font file: Is a directory"
                self.check(self.run_zenpo(name), BANNER + target(CG), b"Failed to " + error + b"\n", 1)
                self.assertEqual(self.get(CG), IMAGE)

    def test_image_write_fails(self):
        self.skip_on_windows("/dev/full is a POSIX device")
        if not os.path.exists("/dev/full"):
            self.skipTest("/dev/full is missing: no device that fails every write")
        os.symlink("/dev/full", self.path(CG))
        self.put("font.txt", PATCH_A)
        self.put("font.bin", BYTES_A * 2)
        for name in ("font.txt", "font.bin"):
            with self.subTest(name=name):
                proc = self.run_zenpo(name)
                self.assertEqual((proc.stdout, proc.returncode), (BANNER + target(CG), 1))
                *warnings, last = proc.stderr.split(b"\n")[:-1]  # growth warnings may come first
                self.assertEqual(last, b"Failed to write ROM image: No space left on device")
                self.assertTrue(all(b": warning: " in line for line in warnings), proc.stderr)

    def test_two_gib_sparse_growth(self):
        if os.statvfs(self.dir).f_bavail * os.statvfs(self.dir).f_frsize < 3 << 30:
            self.skipTest("less than 3 GiB free: the image may not be sparse here")
        self.put(CG, IMAGE)
        self.put("font.txt", patch("@FFFFFFF", ROWS_A, "@10000000", FULL))
        # The growth warning, about the image, comes after those about lines.
        self.check(self.run_zenpo("font.txt"), done(), warning(10, "code 0x10000000 is past the "
                   "largest code 0xFFFFFFF; glyph skipped") + warning(1, "the image grows from "
                   "2048 to 2147483648 bytes"))
        with open(self.path(CG), "rb") as f:
            self.assertEqual(f.read(2048), IMAGE)
            self.assertEqual(f.read(8), bytes(8))  # the gap reads as zeros
            f.seek(-8, os.SEEK_END)
            self.assertEqual((f.tell(), f.read()), ((1 << 31) - 8, BYTES_A))
        self.assertLess(os.stat(self.path(CG)).st_blocks * 512, 1 << 20)  # still sparse

    def test_lost_messages_fail_the_run(self):
        self.skip_on_windows("/dev/full is a POSIX device")
        self.put(CG, IMAGE)
        self.put("font.txt", PATCH_A)
        with open("/dev/full", "wb") as full:
            proc = subprocess.run([ZENPO, "font.txt"], cwd=self.dir, stdout=full,
                                  stderr=subprocess.PIPE, timeout=20)
        self.assertEqual((proc.stderr, proc.returncode),
                         (b"Failed to write standard output: No space left on device\n", 1))
        self.assertEqual(self.get(CG), IMAGE_A)

def many_glyphs(codes):
    """A patch of the given codes, each a whole glyph of alternating columns."""
    return patch(*(["@%x" % code] + ["0101010"] * 8 for code in codes))


GROWING = [("font.txt", many_glyphs(range(1, 0xFA0)), 32000),  # 2 KiB image to 32,000 bytes
           ("font.bin", bytes(range(251)) * 160, 40160)]


class IntactImageTest(ZenpoTest):
    """A run that does not print "Done!" leaves the image byte for byte as it was."""

    def check_intact(self, proc, reason, name, size):
        error = b"Failed to write ROM image: " + reason + b"\n"
        grows = b"%s:%s warning: the image grows from 2048 to %d bytes\n" % (
            name.encode(), b"35983:" if name.endswith(".txt") else b"", size)
        self.check(proc, BANNER + target(CG), grows + error, 1)
        self.assertEqual(self.get(CG), IMAGE)

    def fonts_beside(self):
        """Font files in a folder of their own, so that only the image's folder fills up."""
        fonts = tempfile.TemporaryDirectory()
        self.addCleanup(fonts.cleanup)
        for name, data, _ in GROWING:
            with open(os.path.join(fonts.name, name), "wb") as f:
                f.write(data)
        return fonts.name

    def test_full_file_system(self):
        if os.geteuid() != 0:
            self.skipTest("only root can mount the small file system that this case fills")
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", self.dir],
                                 stderr=subprocess.PIPE)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: " + mounted.stderr.decode().strip())
        self.addCleanup(subprocess.run, ["umount", self.dir], check=True)
        fonts = self.fonts_beside()
        self.put("other", bytes(52000))  # what else the file system holds
        for name, _, size in GROWING:
            with self.subTest(name=name):
                self.put(CG, IMAGE)
                proc = self.run_zenpo(os.path.join(fonts, name))
                self.check_intact(proc, b"No space left on device", os.path.join(fonts, name), size)

    def test_file_size_limit(self):
        self.skip_on_windows("a file-size limit is a POSIX facility")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (16 << 10, 16 << 10))
        for name, data, size in GROWING:
            with self.subTest(name=name):
                self.put(CG, IMAGE)
                self.put(name, data)
                self.check_intact(self.run_zenpo(name, preexec_fn=limit), b"File too large", name, size)

    def test_interrupt_while_writing(self):
        self.skip_on_windows("the interrupt is sent by tracing a POSIX process")
        strace = shutil.which("strace")
        if strace is None:
            self.skipTest("strace is missing: nothing sends the interrupt in the write phase")
        # Glyphs apart make a write each; all of them lie inside the image.
        text = many_glyphs(range(2, 0x100, 2))
        patched = self.import_text(text)
        for when in (1, 3, 50):  # the first write, one part-way and the last but some
            for signal_name in ("SIGINT", "SIGTERM", "SIGHUP"):
                with self.subTest(when=when, signal=signal_name):
                    self.put(CG, IMAGE)
                    tracer = [strace, "-o", "/dev/null", "-e", "trace=write",
                              "-e", "inject=write:signal=%s:when=%d" % (signal_name, when)]
                    proc = self.run_zenpo("font.txt", runner=tracer)
                    self.assertEqual((proc.stdout, proc.stderr), (BANNER + target(CG), b""))
                    self.assertEqual(proc.returncode, -getattr(signal, signal_name))
                    self.assertEqual(self.get(CG), IMAGE)
        # A signal ignored by whoever started zenpo (nohup) stays ignored.
        self.put(CG, IMAGE)
        proc = self.run_zenpo("font.txt", runner=[strace, "-o", "/dev/null", "-e", "trace=write",
                                                  "-e", "inject=write:signal=SIGHUP:when=3"],
                              preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN),
                              env={"LC_ALL": "C", "ASAN_OPTIONS": "detect_leaks=0"})  # no leak check under a tracer
        self.check(proc, done())
        self.assertEqual(self.get(CG), patched)
        self.assertNotEqual(patched, IMAGE)


def vga8_font():
    """Glyphs of an 8x8 PSF1 console font, or None when no such font is installed."""
    for path in sorted(glob.glob("/usr/share/consolefonts/*-VGA8.psf.gz"),
                       key=lambda p: not p.endswith("/Lat15-VGA8.psf.gz")):
        with gzip.open(path, "rb") as f:
            data = f.read()
        if data[:2] == b"\x36\x04" and data[3] == 8:
            count = 512 if data[2] & 1 else 256
            return [data[4 + 8 * i:12 + 8 * i] for i in range(count)]


class RealFontTest(ZenpoTest):
    def test_console_font_round_trip(self):
        glyphs = vga8_font()
        if glyphs is None:
            self.skipTest("console-setup-linux is not installed: no 8x8 console font to convert")
        lines = []
        for code in range(1, 256):  # a mix of header spellings, set marks and comments
            lines.append(["@%x" % code, "@0x%X" % code, "@ %02X" % code, "@%Xh" % code][code % 4])
            mark = "1. "[code % 3]
            lines += ["".join(mark if byte & (0x40 >> col) else "0" for col in range(7))
                      for byte in glyphs[code]]
            if code % 5 == 0:
                lines.append("; end of glyph %d" % code)
        tail = b"TAIL" * 16
        image = self.import_text(patch(lines, eol="\r\n"), image=b"\xaa" * 2048 + tail)
        self.assertEqual(image[:8], b"\xaa" * 8)
        self.assertEqual(image[2048:], tail)
        for code in range(1, 256):
            for row in range(8):
                self.assertEqual(image[code * 8 + row], glyphs[code][row] & 0x7F, (code, row))


class ConvertTest(ZenpoTest):
    def convert(self, *args):
        return self.run_zenpo(*args, program=CONVERT)

    def test_console_font_patches_every_glyph(self):
        glyphs = vga8_font()
        if glyphs is None:
            self.skipTest("console-setup-linux is not installed: no 8x8 console font to convert")
        hex_font = "".join("%04X:%s\n" % (c, g.hex().upper()) for c, g in enumerate(glyphs[:256]))
        bdf = "STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 0\nCHARS 256\n" + "".join(
            "STARTCHAR c%d\nENCODING %d\nBBX 8 8 0 0\nBITMAP\n%sENDCHAR\n"
            % (c, c, "".join("%02X\n" % b for b in g)) for c, g in enumerate(glyphs[:256]))
        for name, data in [("v.psf", psf1(glyphs)), ("v.psf.gz", gzip.compress(psf1(glyphs))),
                           ("v.hex", hex_font.encode()), ("v.bdf", (bdf + "ENDFONT\n").encode())]:
            with self.subTest(name=name):
                self.put(name, data)
                proc = self.convert(name)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                image = self.import_text(proc.stdout, image=bytes(2048))  # not a single warning
                # The rightmost column is dropped by default.
                self.assertEqual(image, bytes(8) + bytes(b >> 1 for g in glyphs[1:256] for b in g))
        # A map moves the capitals onto the small letters and keeps the digits.
        proc = self.convert("-m", "41-5A>61,0x30-39", "v.psf")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        image = self.import_text(proc.stdout, image=bytes(2048))
        moved = {0x61 + i: glyphs[0x41 + i] for i in range(26)}
        moved.update({c: glyphs[c] for c in range(0x30, 0x3A)})
        self.assertEqual(image, b"".join(bytes(b >> 1 for b in moved.get(c, bytes(8)))
                                         for c in range(256)))

    def test_damaged_fonts(self):
        cases = [("short.psf", b"\x36\x04\x00\x08" + bytes(1000),
                  b"short.psf: error: the file is cut short: 256 glyphs end at byte 2052, "
                  b"the file has 1004\n"),
                 ("bad.psf", b"hello", b"bad.psf: error: not a font that converts: neither PSF 1 "
                  b"or 2, BDF nor a hex font\n"),
                 ("tall.psf", b"\x36\x04\x00\x10" + bytes(4096), b"tall.psf: error: the glyphs "
                  b"are 8x16: only glyphs 8 rows high and at most 8 columns wide convert\n"),
                 ("e.bdf", b"STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 0\nCHARS 1\nSTARTCHAR A\n"
                  b"ENCODING 65\nBBX 8 8 0 0\nBITMAP\n" + b"00\n" * 8 + b"ENDFONT\n",
                  b"e.bdf:16: error: glyph 'A' (ENCODING 65) has no ENDCHAR\n")]
        for name, data, error in cases:
            with self.subTest(name=name):
                self.put(name, data)
                self.check(self.convert(name), b"", error, 1)


def psf1(glyphs):
    """An 8x8 PSF 1 font of the given 256 glyphs."""
    return b"\x36\x04\x00\x08" + b"".join(glyphs[:256])


def read_png(data):
    """(width, height, rows of RGB bytes) of an 8-bit RGB PNG."""
    width, height = struct.unpack(">II", data[16:24])
    at, idat = 8, b""
    while at < len(data):
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        idat += data[at + 8:at + 8 + size] if kind == b"IDAT" else b""
        at += 12 + size
    raw, stride, rows, prev = zlib.decompress(idat), width * 3, [], bytes(width * 3)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b, c = line[i - 3] if i >= 3 else 0, prev[i], prev[i - 3] if i >= 3 else 0
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
            line[i] = (line[i] + [0, a, b, (a + b) // 2,
                                  a if pa <= pb and pa <= pc else b if pb <= pc else c][kind]) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, rows


class DumpTest(ZenpoTest):
    def dump(self, *args):
        return self.run_zenpo(*args, program=DUMP)

    def round_trip(self, image, *args):
        """Dump the image, patch the dump back, expect the image unchanged."""
        self.put(CG, image)
        proc = self.dump(*args)
        self.assertEqual((proc.returncode, proc.stderr), (0, b"" if args else
                                                           b"Source file is the SUBSYSCG.ROM\n"))
        self.put("font.txt", proc.stdout)
        self.check(self.run_zenpo("font.txt"), done())  # not a single warning
        self.assertEqual(self.get(CG), image)
        return proc.stdout

    def test_round_trip_of_random_images(self):
        for seed in range(3):
            random = __import__("random").Random(seed)
            size = 2048 + random.randrange(64)  # a part slot at the end is left out
            image = bytes(random.getrandbits(7) for _ in range(size))
            with self.subTest(seed=seed):
                text = self.round_trip(image)
                self.assertTrue(text.startswith(("; Font of SUBSYSCG.ROM (%d bytes), codes 0x1 to "
                                                 "0xFF.\n" % size).encode()), text[:80])
                self.assertEqual(text.count(b"\n@"), 255)

    def test_round_trip_of_a_real_font(self):
        glyphs = vga8_font()
        if glyphs is None:
            self.skipTest("console-setup-linux is not installed: no 8x8 console font to convert")
        image = bytes(byte & 0x7F for glyph in glyphs[:256] for byte in glyph)
        text = self.round_trip(image, CG, "1", "FF")
        self.assertIn(b"@41\n", text)

    def test_ranges_and_slots_past_the_end(self):
        self.put(C, bytes(range(128)) + b"tail")  # codes 0 to 15 and a part slot
        proc = self.dump(C, "0x0e", "20")
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(proc.stdout.count(b"\n@"), 2)
        self.assertIn(b"; Codes from 0x10 on lie past the end of the image: left out.\n",
                      proc.stdout)
        self.assertTrue(proc.stdout.endswith(b"@0F\n" + b"".join(
            format(byte, "07b").encode() + b"\n" for byte in range(120, 128))))
        proc = self.dump()  # SUBSYSCG.ROM is missing: the other image is dumped
        self.assertEqual((proc.returncode, proc.stderr), (0, b"Source file is the SUBSYS_C.ROM\n"))

    def test_rows_with_bit_7(self):
        image = bytearray(IMAGE[:1024])
        image[0x41 * 8 + 2] = 0xC1
        image[0x42 * 8 + 7] = 0x80
        image = bytes(b & 0x7F if i // 8 not in (0x41, 0x42) else b for i, b in enumerate(image))
        self.put(CG, image)
        proc = self.dump(CG)
        self.assertEqual((proc.returncode, proc.stderr),
                         (0, b"SUBSYSCG.ROM: warning: 2 rows have bit 7 set, which a patch cannot "
                             b"write: patched back, they lose it\n"))
        self.assertIn(b"; row 2 of 0x41 is 0xC1: bit 7 cannot be written back\n@41\n", proc.stdout)
        self.put("font.txt", proc.stdout)
        self.check(self.run_zenpo("font.txt"), done())
        expected = bytearray(image)
        expected[0x41 * 8 + 2] &= 0x7F
        expected[0x42 * 8 + 7] &= 0x7F
        self.assertEqual(self.get(CG), bytes(expected))

    def test_picture(self):
        image = with_glyph(IMAGE[:1024], 0x41, BYTES_A[:3] + b"\xa2" + BYTES_A[4:])
        self.put(CG, image)
        self.check(self.dump("--png", "font.png", CG, "40", "4F"), b"")
        width, height, rows = read_png(self.get("font.png"))
        self.assertEqual((width, height), (557, 56))  # one row of 16 cells under the labels

        def pixel(code, row, column):  # cells of 4x4 pixels, bit 7 in column 0
            x, y = 24 + 1 + (code & 15) * 33 + column * 4, 18 + 1 + row * 4
            return rows[y][x * 3:x * 3 + 3]
        self.assertEqual([pixel(0x41, 3, c) for c in range(3)],
                         [b"\xd0\x10\x10", b"\xff\xff\xff", b"\x00\x00\x00"])  # 0xA2
        self.assertEqual(pixel(0x41, 0, 4), b"\x00\x00\x00")
        self.assertEqual(pixel(0x41, 0, 0), b"\xff\xe0\xe0")

    def test_errors(self):
        usage = b"usage: zenpo-dump [--png FILE] [ROMFILE [FIRST [LAST]]]\n"
        self.put(CG, IMAGE)
        for args in ([CG, "0"], [CG, "0x"], [CG, "zz"], [CG, "10000000"], [CG, "41", "40"],
                     [CG, "1", "2", "3"], ["-h"]):
            with self.subTest(args=args):
                self.check(self.dump(*args), b"", usage, 1)
        self.check(self.dump("missing.rom"), b"",
                   b"Failed to open ROM image: No such file or directory\n", 1)
        os.remove(self.path(CG))
        self.check(self.dump(), b"", b"Failed to open 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' "
                   b"file: No such file or directory\n", 1)


def main():
    global ZENPO, DUMP, CONVERT, RUNNER, WINDOWS
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--zenpo", default=os.environ.get("ZENPO"))
    parser.add_argument("--runner", default="")
    args, rest = parser.parse_known_args()
    if not args.zenpo:
        sys.exit("usage: %s --zenpo /path/to/zenpo [unittest args]" % sys.argv[0])
    ZENPO = os.path.abspath(args.zenpo)
    RUNNER = shlex.split(args.runner)
    DUMP = os.path.join(os.path.dirname(ZENPO), "zenpo-dump" + os.path.splitext(ZENPO)[1])
    CONVERT = os.path.join(os.path.dirname(ZENPO), "zenpo-convert" + os.path.splitext(ZENPO)[1])
    WINDOWS = ZENPO.lower().endswith(".exe")
    # A wineserver kept running spares every run of zenpo.exe a second of start-up.
    # Under ctest cmake/wine32.sh has started one for this prefix already.
    started = "ZENPO_WINE_SESSION" in os.environ
    server = shutil.which("wineserver") if RUNNER and not started else None
    if server:
        # The first run may set up the Wine prefix. Then a server that stays, and
        # a run that starts Wine's own background programs: started by a test,
        # they would hold its output pipes open.
        quiet = {"env": environment(), "stdout": subprocess.DEVNULL,
                 "stderr": subprocess.DEVNULL, "timeout": 300, "check": False}
        subprocess.run([*RUNNER, ZENPO], **quiet)
        subprocess.run([server, "-k"], **quiet)
        subprocess.run([server, "-p"], **quiet)
        subprocess.run([*RUNNER, ZENPO], **quiet)
    try:
        unittest.main(argv=[sys.argv[0]] + rest)
    finally:
        if server:
            subprocess.run([server, "-k"], check=False)


if __name__ == "__main__":
    main()
