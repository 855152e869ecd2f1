#!/usr/bin/env python3
# End-to-end tests: the programs run in a fresh folder per case, as a user runs them, for what
# only a whole run shows: the console bytes and their order, the exit status, the files, signals
# and file systems. The parsers have unit tests of their own. Run it so:
#     python3 tests/e2e/zenpo_e2e.py --zenpo /abs/path/to/zenpo [--runner WINE] [unittest args]
import argparse, collections, gzip, os, pathlib, random, resource, shlex, shutil, signal
import subprocess, sys, tempfile, threading, unittest

PROGRAMS = {}  # zenpo, zenpo-dump and zenpo-convert: their paths, from --zenpo
RUNNER = []  # what runs them, from --runner: wine for .exe files
WINDOWS = False  # they are Windows programs

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
NO_IMAGE = b"Failed to open 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' file: "
SOURCE = b"Source file is the SUBSYSCG.ROM\n"  # what zenpo-dump says of the image it reads
IMAGE = bytes(range(256)) * 8  # 2048 bytes, every offset recognisable
ROWS_A = "0001000 0010100 0100010 0100010 0111110 0100010 0100010 0000000".split()
BYTES_A = bytes.fromhex("08 14 22 22 3E 22 22 00")
PATCH_A = ("@41\n" + "\n".join(ROWS_A) + "\n").encode()
IMAGE_A = IMAGE[:0x208] + BYTES_A + IMAGE[0x210:]
DIR, FIFO = object(), object()  # in the files of a folder: a directory or a named pipe
Link = collections.namedtuple("Link", "target")  # and a symbolic link


def usage(encoding="shift_jis"):
    return b"".join(line.encode(encoding) + b"\n" for line in USAGE)


def done(name=CG, *, target_only=False):
    return BANNER + b"Target file is the " + name.encode() + (b"\n" if target_only else b"\nDone!\n")


def warning(line, text, name="font.txt"):
    return ("%s:%s warning: %s\n" % (name, "%d:" % line if line else "", text)).encode()


# A patch of the given codes, each with the given rows.
def glyphs(codes, rows=("0101010",) * 8):
    return "".join("@%x\n" % code + "".join(r + "\n" for r in rows) for code in codes).encode()


# The environment of a run: LC_ALL=C unless `env` says otherwise; Wine kept quiet.
def environment(env=None):
    return {**{k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_CTYPE", "LANG")},
            **({"LC_ALL": "C"} if env is None else env),
            **({"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
               if RUNNER else {})}


class Test(unittest.TestCase):
    def setUp(self):
        self.fresh()

    # A new empty folder to run in, holding `files` (name: bytes).
    def fresh(self, files=()):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name
        for name, data in dict(files).items():
            if data is DIR:
                os.makedirs(self.path(name))
            elif data is FIFO:
                os.mkfifo(self.path(name))
            elif isinstance(data, Link):
                os.symlink(data.target, self.path(name))
            else:
                self.put(name, data)

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, data):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        pathlib.Path(self.path(name)).write_bytes(data)

    def get(self, name):
        return pathlib.Path(self.path(name)).read_bytes()

    def run_(self, *args, program="zenpo", env=None, merge=False, runner=(), **kw):
        kw = {"stdout": subprocess.PIPE, "stderr": subprocess.STDOUT if merge else subprocess.PIPE, **kw}
        proc = subprocess.run([*runner, *RUNNER, PROGRAMS.get(program, program), *args],
                              cwd=self.dir, env=environment(env), timeout=60, **kw)
        if WINDOWS:  # console lines end in CR LF
            proc.stdout, proc.stderr = (o and o.replace(b"\r\n", b"\n") for o in (proc.stdout, proc.stderr))
        return proc

    # zenpo under strace, its calls tampered with as `inject` says; no leak check, which cannot
    # work under a tracer.
    def traced(self, inject, *args, strace=(), **kw):
        return self.run_(*args or ["font.txt"], **kw, env={"LC_ALL": "C", "ASAN_OPTIONS": "detect_leaks=0"},
                         runner=["strace", "-o", "/dev/null", *strace, "-e", "inject=" + inject])

    # The run printed these bytes and ended so, and the files hold these bytes.
    def expect(self, proc, stdout, stderr=b"", status=0, files=()):
        self.assertEqual((proc.stdout, proc.stderr or b"", proc.returncode), (stdout, stderr, status))
        for name, data in dict(files).items():
            self.assertEqual(self.get(name), data, name)


class ZenpoTest(Test):
    # Each run in a folder of its own: what it prints, its status and the files after it.
    def test_runs(self):
        font, bin_a, unsupported = {CG: IMAGE, "font.txt": PATCH_A}, PATCH_A + IMAGE[len(PATCH_A):], \
            BANNER + b"Unsupported file specified\n" + usage()
        cannot_read = b"Failed to open font file: Permission denied\n" if WINDOWS else \
            b"Failed to read font file: Is a directory\n"  # Windows opens no directory as a file
        data = (b"\x1a\r\n\x00\xff\r\n\x1a" + bytes(range(0x80, 0x88))) * 200
        argv = PROGRAMS["zenpo"].encode() + b"\0font.bin\0"
        runs = [  # (files before, arguments, standard output, standard error, status, files after)
            (font, ["font.txt"] * 2, BANNER + usage(), b"", 1, {CG: IMAGE}),
            *[({CG: IMAGE, n: PATCH_A}, [n], done(), b"", 0, {CG: IMAGE_A})
              for n in ("FONT.TXT", "font.Txt", "txt", "my.fonts/a.txt", "フォント.txt")],
            *[({CG: IMAGE, n: PATCH_A}, [n], done(), b"", 0, {CG: bin_a})
              for n in ("glyphs.BIN", "glyphs.bin", "a.txt.Bin")],
            *[({CG: IMAGE, n: PATCH_A}, [n], unsupported, b"", 1, {CG: IMAGE}) for n in (
                "font.", "font.txt.bak", "fonts.new/glyphs", "charsetimage", "font.bi", ".txtx")],
            # SUBSYSCG.ROM first, else SUBSYS_C.ROM, else neither.
            ({**font, C: IMAGE}, ["font.txt"], done(), b"", 0, {CG: IMAGE_A, C: IMAGE}),
            ({C: IMAGE, "font.txt": PATCH_A}, ["font.txt"], done(C), b"", 0, {C: IMAGE_A}),
            ({CG: DIR, C: IMAGE, "font.txt": PATCH_A}, ["font.txt"], done(C), b"", 0, {C: IMAGE_A}),
            ({"font.txt": PATCH_A}, ["font.txt"], BANNER, NO_IMAGE + b"No such file or directory\n",
             1, {}),
            # A first image that is there but does not open is named with its own reason.
            ({CG: DIR, C: DIR, "font.txt": PATCH_A}, ["font.txt"], BANNER, b"%s%s\nFailed to open "
             b"SUBSYSCG.ROM: %s\n" % ((NO_IMAGE,) + (b"Permission denied",) * 2 if WINDOWS else
                                     (NO_IMAGE,) + (b"Is a directory",) * 2), 1, {}),
            # A patch that writes nothing is said to.
            ({CG: IMAGE, "font.txt": b"; notes only\n\n"}, ["font.txt"], done(), warning(
                0, "no glyph in it can be written: the image is unchanged"), 0, {CG: IMAGE}),
            # Standard error merged: the messages come in this order.
            *[({CG: IMAGE}, [n], done(target_only=True) + b"Failed to open font file: No such file "
               b"or directory\n", None, 1, {CG: IMAGE}) for n in ("font.txt", "font.bin")],
            *[({CG: IMAGE, n: DIR}, [n], done(target_only=True), cannot_read, 1, {CG: IMAGE})
              for n in ("dir.txt", "dir.bin")],
            # Warnings of lines in line order, then that of the image.
            ({CG: IMAGE, "font.txt": glyphs([0x41], ROWS_A[:5]) + b"@zz\n1111111\n" +
              glyphs([0x10000000, 0x101])}, ["font.txt"], done(), warning(
                1, "glyph 0x41 ends after 5 of its 8 rows; the others keep their old bytes") +
             warning(7, "header has no hexadecimal code; the rows after it are ignored") +
             warning(9, "code 0x10000000 is past the largest code 0xFFFFFFF; glyph skipped") +
             warning(18, "the image grows from 2048 to 2064 bytes"), 0,
             {CG: IMAGE[:0x208] + BYTES_A[:5] + IMAGE[0x20D:] + bytes(8) + b"\x2a" * 8}),
            *[({CG: IMAGE, "font.bin": data[:n]}, ["font.bin"], done(), warning(
                0, "the image grows from 2048 to 3000 bytes", "font.bin") if n > 2048 else b"", 0,
               {CG: data[:n] + IMAGE[n:]}) for n in (0, 16, 3000)],
        ]
        if not WINDOWS:  # symbolic links, devices and /proc
            runs += [
                ({"images/real.rom": IMAGE, CG: Link("images/real.rom"), "font.txt": PATCH_A},
                 ["font.txt"], done(), b"", 0, {"images/real.rom": IMAGE_A}),
                # A font whose size is not known and that the kernel will not copy.
                ({CG: IMAGE, "font.bin": Link("/proc/self/cmdline")}, ["font.bin"], done(), b"", 0,
                 {CG: argv + IMAGE[len(argv):]}),
                *[({CG: Link("/dev/full"), n: PATCH_A}, [n], done(target_only=True), warning(
                    line, "the image grows from 0 to %d bytes" % size, n) +
                    b"Failed to write ROM image: No space left on device\n", 1, {})
                  for n, line, size in [("font.txt", 1, 528), ("font.bin", 0, len(PATCH_A))]],
                # An image of no size, as a pipe, is not written and the run says so.
                *[({CG: FIFO, n: PATCH_A}, [n], done(target_only=True), b"Failed to write ROM image: "
                   b"Illegal seek\n", 1, {}) for n in ("font.txt", "font.bin")]]
        for files, args, stdout, stderr, status, after in runs:
            with self.subTest(files=list(files), args=args):
                self.fresh(files)
                utf8 = any(not arg.isascii() for arg in args)  # Wine reads such a name so
                proc = self.run_(*args, merge=stderr is None,
                                 env={"LC_ALL": "C.UTF-8"} if utf8 else None)
                self.expect(proc, stdout, stderr or b"", status, after)
                self.assertEqual(sorted(os.listdir(self.dir)), sorted({n.split("/")[0] for n in files}))

    def test_usage_follows_locale_codeset(self):
        for env, encoding in [({}, "shift_jis"), ({"LANG": "C.UTF-8"}, "utf-8"),
                              ({"LC_CTYPE": "C.UTF-8", "LANG": "C"}, "utf-8"),
                              ({"LC_ALL": "C", "LANG": "C.UTF-8"}, "shift_jis")]:
            with self.subTest(env=env):  # on Windows output to a pipe stays in the code page
                self.expect(self.run_(env=env), BANNER + usage("shift_jis" if WINDOWS else encoding),
                            status=1)

    def test_lost_output_fails_the_run(self):
        if WINDOWS:
            self.skipTest("/dev/full is a POSIX device")
        self.fresh({CG: IMAGE, "font.txt": PATCH_A, "a.hex": b"".join(
            b"%04X:%016X\n" % (c, c * 0x0102030405060708 % (1 << 64)) for c in range(1, 0x100))})
        for program, args in [("zenpo", ["font.txt"]), ("zenpo-dump", []),
                              ("zenpo-convert", ["a.hex"])]:
            with self.subTest(program=program), open("/dev/full", "wb") as full:
                proc = self.run_(*args, program=program, stdout=full)
                self.assertEqual((proc.stderr.split(b"\n")[-2:], proc.returncode),
                                 ([b"Failed to write standard output: No space left on device"
                                   if program == "zenpo" else b"%s: standard output: cannot write it: "
                                   b"No space left on device" % program.encode(), b""], 1))
        self.assertEqual(self.get(CG), IMAGE_A)


# A run that does not print "Done!" leaves the image byte for byte as it was.
class IntactImageTest(Test):
    def test_file_size_limit(self):
        if WINDOWS:
            self.skipTest("a file-size limit is a POSIX facility")
        # With standard input closed the image is descriptor 0, which is a file all the same.
        limit = lambda: (os.close(0), resource.setrlimit(resource.RLIMIT_FSIZE, (16 << 10,) * 2))
        text, binary = glyphs(range(1, 0xFA0)), bytes(range(251)) * 160  # 32,000 and 40,160 bytes
        for name, data, image, line, size in [("font.txt", text, IMAGE, 35983, 32000),
                                              ("font.bin", binary, IMAGE, 0, 40160),
                                              ("font.bin", binary, b"", 0, 40160)]:  # empty, it stays so
            with self.subTest(name=name, image=len(image)):
                self.fresh({CG: image, name: data})
                grows = warning(line, "the image grows from %d to %d bytes" % (len(image), size), name)
                self.expect(self.run_(name, preexec_fn=limit, stdin=subprocess.DEVNULL), done(target_only=True),
                            grows + b"Failed to write ROM image: File too large\n", 1, {CG: image})

    def test_traced_interrupts_and_errors(self):
        if WINDOWS or shutil.which("strace") is None:
            self.skipTest("needs strace, which tampers with the calls of a POSIX process")

        text = glyphs(range(2, 0x100, 2))  # glyphs apart: a write each, all inside the image
        for when in (1, 3, 50):  # the first write, one part-way and the last but some
            for name in ("SIGINT", "SIGTERM", "SIGHUP"):
                with self.subTest(when=when, signal=name):
                    self.fresh({CG: IMAGE, "font.txt": text})
                    self.expect(self.traced("write:signal=%s:when=%d" % (name, when)), done(target_only=True),
                                status=-getattr(signal, name), files={CG: IMAGE})
        # A write that fails as the interrupt comes is told of all the same, sent by a whole glyph
        # (the third write) or by a row of glyph 0x8, cut short (the fifth, after its warning); and
        # a read error part-way through a binary font, before anything is written.
        cut = glyphs([2, 4, 6]) + glyphs([8], ("1", "1")) + glyphs(range(10, 0x100, 2))
        sigint, enospc = -signal.SIGINT, b"Failed to write ROM image: No space left on device\n"
        for name, font, inject, stderr, status in [
                ("font.txt", text, "write:error=ENOSPC:signal=SIGINT:when=3", enospc, sigint),
                ("font.txt", cut, "write:error=ENOSPC:signal=SIGINT:when=5", warning(28, "glyph 0x8 "
                 "ends after 2 of its 8 rows; the others keep their old bytes") + enospc, sigint),
                ("font.bin", IMAGE, "sendfile:error=EIO:when=2", b"Failed to read font file: "
                 b"Input/output error\n", 1)]:
            self.fresh({CG: IMAGE, name: font})
            self.expect(self.traced(inject, name), done(target_only=True), stderr, status, {CG: IMAGE})
        # A font that the kernel will not copy and that cannot be read either (into an empty image,
        # whose old bytes need no read); only the font's calls fail, not those of a dynamic loader.
        self.fresh({CG: b"", "font.bin": IMAGE})
        self.expect(self.traced("copy_file_range,read:error=EIO:when=1", "font.bin", strace=["-P", os.path.realpath(
            self.path("font.bin"))]), done(target_only=True), warning(0, "the image grows from 0 to 2048 bytes",
            "font.bin") + b"Failed to read font file: Input/output error\n", 1, {CG: b""})
        # A transfer in the kernel that fails at once leaves the work to plain reads and writes.
        for inject in ("sendfile:error=EINVAL:when=1", "copy_file_range:error=EXDEV:when=1"):
            self.fresh({CG: IMAGE, "font.bin": PATCH_A})
            self.expect(self.traced(inject, "font.bin"), done(), files={CG: PATCH_A + IMAGE[len(PATCH_A):]})
        # An interrupted output is removed, and the file it was to replace stays (the first write
        # is the line that names the image).
        self.fresh({CG: bytes(2048), "out.txt": b"; old\n"})
        self.expect(self.traced("write:signal=SIGINT:when=2", "-o", "out.txt", program="zenpo-dump"), b"",
                    SOURCE, sigint, {"out.txt": b"; old\n"})
        self.assertEqual(sorted(os.listdir(self.dir)), [CG, "out.txt"])
        # A failed close is a failed write (the first close is that of the old output, read first;
        # a dynamic loader would close files of its own before).
        if b"ld-linux" not in pathlib.Path(PROGRAMS["zenpo-dump"]).read_bytes()[:1024]:
            self.expect(self.traced("close:error=EIO:when=2", "-o", "out.txt", program="zenpo-dump"), b"",
                        b"Source file is the SUBSYSCG.ROM\nzenpo-dump: out.txt: cannot write it: "
                        b"Input/output error\n", 1, {"out.txt": b"; old\n"})
        self.assertEqual(sorted(os.listdir(self.dir)), [CG, "out.txt"])
        # A signal ignored by whoever started zenpo (nohup) stays ignored.
        self.fresh({CG: IMAGE, "font.txt": text})
        ignore = lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN)
        self.expect(self.traced("write:signal=SIGHUP:when=3", preexec_fn=ignore), done(), files={CG: bytes(
            0x2A if i >= 16 and i // 8 % 2 == 0 else IMAGE[i] for i in range(2048))})


# Patches large enough to be read in two parts side by side, and past the glyphs that memory holds,
# which then wait in spill files: the same bytes as any patch, and the same undo.
class LargePatchTest(Test):
    def test_past_what_memory_holds(self):
        # Codes 1 to 0x23FFFF, row r of code c "\n" (0x7F) where bit r of c is set, else "0\n" (0x3F):
        # 45 MB, over an image of 18 MiB that it fills, whose old bytes go to a spill file too.
        codes = range(1, 0x240000)
        rows = ["".join("\n" if c >> r & 1 else "0\n" for r in range(8)) for c in range(256)]
        text = "".join("@%X\n%s" % (c, rows[c & 0xFF]) for c in codes).encode()
        # A header with no code before 0x100000, warned of by its line, counted across the parts.
        text = text.replace(b"@100000\n", b"@\n@100000\n")
        lost = lambda name: warning(9 * 0xFFFFF + 1, "header has no hexadecimal code; the rows after it are "
                                    "ignored", name)
        image = bytes(range(256)) * 0x12000
        new = bytes(0x7F if c >> r & 1 else 0x3F for c in range(256) for r in range(8))
        patched = image[:8] + new[8:] + new * (len(image) // 2048 - 1)
        # Its codes up to 0x14FFFF, 26 MB held in memory, and all of it, past that: from a file, read in
        # parts side by side, and from a pipe, in one.
        held = text[:text.index(b"@150000\n")]
        for font, name, pipe in ((held, "font.txt", False), (text, "font.txt", False), (text, "pipe.txt", True)):
            with self.subTest(size=len(font), pipe=pipe):
                self.fresh({CG: image, name: FIFO if pipe else font})
                if pipe:
                    writer = threading.Thread(target=pathlib.Path(self.path(name)).write_bytes, args=(font,),
                                              daemon=True)
                    writer.start()
                end = font.count(b"@") * 8  # codes 1 to the count of headers but the empty one
                self.expect(self.run_(name), done(), lost(name), files={CG: patched[:end] + image[end:]})
                if pipe:
                    writer.join(10)
        if WINDOWS or shutil.which("strace") is None:
            return
        # Interrupted in the first range of codes, written a MiB at a time, or failing in the second.
        for inject, stderr, status in (("write:signal=SIGINT:when=2", b"", -signal.SIGINT),
                                       ("write:error=ENOSPC:when=14", b"Failed to write ROM image: No space "
                                        b"left on device\n", 1)):
            with self.subTest(inject=inject):
                self.fresh({CG: image, "font.txt": text})
                image_only = ["-P", os.path.realpath(self.path(CG))]
                self.expect(self.traced(inject, strace=image_only), done(target_only=True),
                            lost("font.txt") + stderr, status, {CG: image})


class ConvertTest(Test):
    def test_psf_font_patches_glyph_for_glyph(self):
        font = [bytes((c * 37 + r * 11) & 0xFF for r in range(8)) for c in range(256)]
        right = [bytes(b >> 1 for b in g) for g in font]  # the rightmost column dropped
        left = [bytes(b & 0x7F for b in g) for g in font]
        heading = b"; Converted from v.psf.gz: PSF 1, 256 glyphs of 8x8, with a Unicode table.\n; " \
            b"Codes -m %s: %d glyphs; " \
            b"%d of the font left out.\n; The %s column of each glyph is dropped, %s: the image has 7 " \
            b"columns.\n; Apply it with \"zenpo FILE.txt\" in the folder of the image.\n"
        def lost(bit, side, codes):  # (target, source) pairs, ascending: the first 4 are named
            names = [b"0x%X" % t for t, c in codes if any(b & bit for b in font[c])]
            return b"v.psf.gz: warning: %d glyphs lose set pixels of their %s column, which the " \
                b"image has no room for: %s and %d more\n" % (len(names), side, b", ".join(names[:4]),
                                                              len(names) - 4)
        own = [(c, c) for c in range(1, 256)]
        mapped = [*own[0x2F:0x39], *zip(range(0x61, 0x7B), range(0x41, 0x5B))]
        moved = {t: left[c] for t, c in mapped}
        for args, image, first, stderr in [
                ([], right, heading % (b"01-FF", 255, 1, b"rightmost", b"the one with fewer set pixels "
                 b"(1020 set pixels against 1024)"), lost(1, b"rightmost", own)),
                (["--drop", "left"], left, heading % (b"01-FF", 255, 1, b"leftmost", b"as --drop asks "
                 b"(1024 set pixels against 1020)"), lost(0x80, b"leftmost", own)),
                # Glyphs of another set of codes: there the leftmost column holds fewer.
                (["-m", "41-5A=61", "-m", "0x30-39"], [moved.get(c, bytes(8)) for c in range(256)],
                 heading % (b"41-5A=61 -m 0x30-39", 36, 220, b"leftmost", b"the one with fewer set "
                 b"pixels (142 set pixels against 144)"), lost(0x80, b"leftmost", mapped))]:
            with self.subTest(args=args):
                self.fresh({"v.psf.gz": gzip.compress(b"\x36\x04\x02\x08" + b"".join(font) +
                                                      b"\xff\xff" * 256),  # a table, not used
                            CG: bytes(2048)})
                proc = self.run_(*args, "v.psf.gz", program="zenpo-convert")
                self.assertEqual((proc.stdout[:len(first)], proc.stderr, proc.returncode),
                                 (first, stderr, 0))
                self.put("font.txt", proc.stdout)
                self.expect(self.run_("font.txt"), done(), files={CG: bytes(8) + b"".join(image[1:])})
        # With -u a glyph takes the code points of its table entry, and these are all empty.
        self.assertIn(b"; Codes by code point, -m 01-FF: 0 glyphs; 256 of the font left out.\n",
                      self.run_("-u", "v.psf.gz", program="zenpo-convert").stdout)

    def test_errors(self):
        usage_line = b"usage: zenpo-convert [-u] [-m MAP]... [--drop left|right] [-o FILE | --png " \
            b"FILE]\n                     [--text STRING] [SHEET OPTIONS] FONTFILE\n"
        wrong = lambda why: b"zenpo-convert: " + why + b"\n" + usage_line  # a wrong argument
        refused = lambda name, why: b"zenpo-convert: %s: not written: it %s\n" % (name, why)
        bdf = b"STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 0\nSTARTCHAR A\nENCODING 65\nBBX 8 1 0 0\n"
        files = {"short.psf": b"\x36\x04\x00\x08" + bytes(1000), "a.hex": b"0041:00102030405060"
                 b"70\n", "e.bdf": bdf + b"BITMAP\n00\nENDFONT\n", "x.bin": bytes(16), "e.psf": b"@41"}
        self.fresh(files)
        for args, stderr in [
                (["short.psf"], b"zenpo-convert: short.psf: the file is cut short: 256 glyphs end at byte "
                                b"2052, the file has 1004\n"),
                (["e.bdf"], b"zenpo-convert: e.bdf:8: glyph 'A' (ENCODING 65) has no ENDCHAR\n"),
                (["none.psf"], b"zenpo-convert: none.psf: cannot open it: No such file or directory\n"),
                (["-"], b"zenpo-convert: -: cannot open it: No such file or directory\n"),  # a name
                (["--drop", "middle", "a.hex"], wrong(b"--drop: 'middle' is neither left nor right")),
                (["a.hex", "a.hex"], wrong(b"'a.hex' is a second FONTFILE after 'a.hex'")),
                # What PowerShell makes of "-m 20-7E,FF61-FF9F=A1".
                (["-m", "20-7E", "FF61-FF9F=A1", "a.hex"], wrong(b"'a.hex' is a second FONTFILE "
                 b"after 'FF61-FF9F=A1'; give each range of a map its own -m")),
                ([], wrong(b"no FONTFILE given")), (["a.hex", "-m"], wrong(b"-m needs a MAP")),
                (["a.hex", "--drop"], wrong(b"--drop needs left or right")),
                (["a.hex", "-o"], wrong(b"-o needs a FILE")),
                (["-x", "a.hex"], wrong(b"unknown option '-x'")),
                (["-m", "FF61-ZZ", "a.hex"], wrong(b"-m: 'FF61-ZZ' is not a hexadecimal range")),
                (["-o", "a", "--png", "b", "a.hex"], wrong(b"-o and --png both name an output: give one")),
                (["--png", "no/such.png", "a.hex"], b"zenpo-convert: no/such.png: cannot write it: "
                                                    b"No such file or directory\n"),
                (["-o", "a.hex", "a.hex"], refused(b"a.hex", b"is the file being read")),
                (["-o", "x.bin", "a.hex"], refused(b"x.bin", b"exists and is not a font patch")),
                (["-o", "e.psf", "a.hex"], refused(b"e.psf", b"exists and is not a PSF font")),
                (["--png", "e.bdf", "a.hex"], refused(b"e.bdf", b"exists and is not a PNG picture"))]:
            with self.subTest(args=args):
                self.expect(self.run_(*args, program="zenpo-convert"), b"", stderr, 1, files)

    # Files of -o, new and replaced, are written in font_loop_e2e.py.
    def test_standard_output(self):
        self.fresh({"a.hex": b"0041:0010203040506070\n"})
        text = self.run_("a.hex", program="zenpo-convert").stdout
        self.expect(self.run_("-o", "-", "a.hex", program="zenpo-convert"), text)  # '-' names it
        self.put("tie.hex", b"0041:8100000000000000\n")  # one set pixel in each edge column
        self.assertIn(b"dropped, as both have 1 set pixels:", self.run_("tie.hex", program="zenpo-convert").stdout)
        proc = self.run_("--help", program="zenpo-convert")  # the whole usage, on standard output
        self.assertEqual((proc.stdout[:22], proc.stderr, proc.returncode), (b"usage: zenpo-convert [", b"", 0))


class DumpTest(Test):
    def dump(self, *args):
        return self.run_(*args, program="zenpo-dump")

    def test_dump_patches_back_to_the_same_image_but_bit_7(self):
        generator = random.Random(1)
        image = bytearray(generator.getrandbits(7) for _ in range(2048 + 61))  # a part slot left out
        image[0x20A], image[0x40F] = 0xC1, 0x80
        self.put(CG, bytes(image))
        proc = self.dump()
        self.assertEqual((proc.returncode, proc.stderr), (0, SOURCE + b"SUBSYSCG.ROM: warning: 2 rows have "
                         b"bit 7 set, which a patch cannot write: patched back, they lose it\n"))
        self.assertTrue(proc.stdout.startswith(b"; Font of SUBSYSCG.ROM (2109 bytes), codes 0x1 to "
                                               b"0xFF.\n"), proc.stdout[:80])
        self.assertEqual(proc.stdout.count(b"\n@"), 255)
        self.assertIn(b"; row 2 of 0x41 is 0xC1: bit 7 cannot be written back\n@41\n", proc.stdout)
        for args, count in [(["0x105"], 1), (["A9", "aF"], 7)]:  # FIRST alone: up to 0xFF or FIRST
            self.assertEqual(self.dump(CG, *args).stdout.count(b"\n@"), count, args)
        self.expect(self.dump("-o", "font.txt"), b"", proc.stderr, files={"font.txt": proc.stdout})
        self.expect(self.dump("-o", "-"), proc.stdout, proc.stderr)
        # A device, written in place: a null device of its own where a faulty build run by root
        # could replace the system's.
        null = self.path("null") if os.geteuid() == 0 and not WINDOWS else os.devnull
        if null != os.devnull:
            os.mknod(null, 0o20666, os.makedev(1, 3))
        self.assertEqual(self.dump("-o", null).returncode, 0)
        image[0x20A], image[0x40F] = 0x41, 0
        self.expect(self.run_("font.txt"), done(), files={CG: image})  # not a single warning

    def test_ranges_and_slots_past_the_end(self):
        self.put(C, bytes(range(128)) + b"tail")  # codes 0 to 15 and a part slot
        proc = self.dump(C, "0X0E", "1f")
        self.assertEqual((proc.returncode, proc.stdout.count(b"\n@")), (0, 2))
        self.assertIn(b"; Codes from 0x10 on lie past the end of the image: left out.\n", proc.stdout)
        self.assertTrue(proc.stdout.endswith(b"@0F\n" + b"".join(
            format(byte, "07b").encode() + b"\n" for byte in range(120, 128))))
        proc = self.dump()  # SUBSYSCG.ROM is missing: the other image is dumped
        self.assertEqual((proc.returncode, proc.stderr), (0, b"Source file is the SUBSYS_C.ROM\n"))

    def test_errors(self):
        usage = b"usage: zenpo-dump [-o FILE | --png FILE] [--text STRING] [ROMFILE [FIRST [LAST]]]\n"
        said = lambda text: b"zenpo-dump: " + text + b"\n"
        wrong = lambda why: said(why) + usage
        files = {CG: IMAGE, C: IMAGE, "font.txt": PATCH_A, "big.rom": bytes(8 * 16 * 1025)}
        self.fresh(files)
        for args, stderr in [
                ([CG, "0"], wrong(b"FIRST 0 cannot be patched: codes start at 1")),
                ([CG, "10000000"], wrong(b"FIRST 10000000 is past the largest code 0xFFFFFFF")),
                ([CG, "1", "0x"], wrong(b"LAST '0x' is not a hexadecimal code")),
                *[([CG, code], wrong(b"FIRST '%s' is not a hexadecimal code" % code.encode()))
                  for code in ("zz", "1x5", "")],
                ([CG, "41", "40"], wrong(b"LAST 40 is below FIRST 41")),
                ([CG, "1", "2", "3"], wrong(b"too many arguments: '3' after LAST")),
                (["--png"], wrong(b"--png needs a FILE")), (["-x"], wrong(b"unknown option '-x'")),
                (["-o", "a.txt", "--png", "a.png"], wrong(b"-o and --png both name an output: give one")),
                # A picture too large for one PNG, standard output empty (pictures drawn are read back
                # in font_loop_e2e.py).
                (["--png", "-", "big.rom", "1", "FFFFFFF"], said(b"1024 rows of 16 glyphs at most fit one "
                                                                 b"picture")),
                # Never over the image being read, nor over a file of another kind.
                (["missing.rom"], said(b"missing.rom: cannot open it: No such file or directory")),
                (["--png", CG], SOURCE + said(b"SUBSYSCG.ROM: not written: it is the file being read")),
                (["-o", C], SOURCE + said(b"SUBSYS_C.ROM: not written: it exists and is not a font patch")),
                (["--png", "font.txt", C], said(b"font.txt: not written: it exists and is not a PNG picture")),
                (["-o", ".", C], said(b".: cannot write it: " + (b"Permission denied" if WINDOWS
                                                                 else b"Is a directory")))]:
            with self.subTest(args=args):
                self.expect(self.dump(*args), b"", stderr, 1, files)
        help_ = self.dump("--help")
        self.assertEqual((help_.stdout[:len(usage)], help_.returncode), (usage, 0))
        self.assertIn(b"  zenpo-dump -o font.txt", help_.stdout)
        for program in ("zenpo-dump", "zenpo-convert"):  # the version, alone as the argument
            proc = self.run_("--version", program=program)
            self.assertRegex(proc.stdout + b"%d" % proc.returncode, program.encode() + rb" \d+\.\d+\.\d+\r?\n0$")
        os.remove(self.path(CG))
        os.remove(self.path(C))
        self.expect(self.dump(), b"", b"zenpo-dump: no ROMFILE given, and neither SUBSYSCG.ROM nor "
                    b"SUBSYS_C.ROM opens for update here: No such file or directory\n", 1)

    def test_reads_the_image_that_zenpo_patches(self):
        # A read-only SUBSYSCG.ROM is passed over by zenpo: so it is by zenpo-dump. Only another
        # user than root sees it read-only; a copy of the program is within that user's reach.
        if WINDOWS or os.geteuid() != 0:
            self.skipTest("needs root, to run as another user")
        programs = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, programs)
        os.chmod(programs, 0o755)
        shutil.copy(PROGRAMS["zenpo-dump"], programs)
        self.fresh({CG: IMAGE, C: bytes(2048), "w.txt": b"\0"})
        os.chmod(self.dir, 0o777)
        os.chmod(self.path(CG), 0o444)
        os.chmod(self.path(C), 0o666)
        # w.txt: a file of another kind that the user may write, not read.
        os.chown(self.path("w.txt"), 65534, 65534), os.chmod(self.path("w.txt"), 0o200)
        dump = lambda *args: self.run_(*args, program=os.path.join(programs, "zenpo-dump"),
                                       preexec_fn=lambda: (os.setgid(65534), os.setuid(65534)))
        proc = dump()
        self.assertEqual((proc.stderr, proc.stdout.count(b"\n@"), proc.returncode),
                         (b"Source file is the SUBSYS_C.ROM\n", 255, 0))
        for name in (CG, "w.txt"):  # neither is written over
            self.expect(dump("-o", name, C), b"", b"zenpo-dump: %s: cannot write it: Permission "
                        b"denied\n" % name.encode(), 1, {CG: IMAGE, "w.txt": b"\0"})


class CmdExeTest(Test):
    # What a user types in cmd.exe, as typed: a map that needs no quoting, and -o, not ">".
    def test_map_and_output_as_typed(self):
        if not WINDOWS:
            self.skipTest("cmd.exe runs under Wine only")
        self.fresh({"t.hex": b"0041:0204081020400000\r\n0042:7E7E7E7E7E7E7E7E\r\n", CG: bytes(2048)})
        line = "Z:%s -m 41-42=61 -o p.txt t.hex" % PROGRAMS["zenpo-convert"].replace("/", "\\")
        self.expect(self.run_("/c", line, program="cmd"), b"")
        self.expect(self.run_("p.txt"), done(), files={CG: bytes(0x308) + bytes.fromhex(
            "0204081020400000") + b"\x7e" * 8 + bytes(2048 - 0x318)})
        self.assertEqual(sorted(os.listdir(self.dir)), [CG, "p.txt", "t.hex"])  # no file "61"


def main():
    global RUNNER, WINDOWS
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--zenpo", default=os.environ.get("ZENPO"))
    parser.add_argument("--runner", default="")
    args, rest = parser.parse_known_args()
    if not args.zenpo:
        sys.exit("usage: %s --zenpo /path/to/zenpo [unittest args]" % sys.argv[0])
    zenpo = os.path.abspath(args.zenpo)
    folder, exe = os.path.split(zenpo)[0], os.path.splitext(zenpo)[1]
    PROGRAMS.update({n: os.path.join(folder, n + exe) for n in ("zenpo-dump", "zenpo-convert")}, zenpo=zenpo)
    RUNNER, WINDOWS = shlex.split(args.runner), exe.lower() == ".exe"
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
