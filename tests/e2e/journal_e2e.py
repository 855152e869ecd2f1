#!/usr/bin/env python3
# End-to-end tests of the journal beside the image: a patch cut short by a kill at any call that
# writes, syncs, cuts or removes is put back by the next zenpo or zenpo-dump; the order of those
# calls survives a power loss; journals damaged or of another image are never applied. Run it as
# zenpo_e2e.py:
#     python3 tests/e2e/journal_e2e.py --zenpo /abs/path/to/zenpo [--runner WINE] [unittest args]
import os, pathlib, re, shutil, struct, sys, tempfile, zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zenpo_e2e as e2e  # noqa: E402
from zenpo_e2e import CG, C  # noqa: E402

JOURNAL = CG + "-journal"
PUT_BACK = b"SUBSYSCG.ROM: put back as it was before a patch that did not finish\n"
# Calls that write, sync, cut or remove a file: the places where a kill is tried.
WRITING = ("write", "pwrite64", "fallocate", "copy_file_range", "fdatasync", "fsync", "ftruncate", "unlink")
STRACE = shutil.which("strace")


# A journal as zenpo.1 gives it: the image `name` of `old_size` bytes, `new_size` after the
# patch, and (offset, old bytes) of each extent.
def journal(name, old_size, new_size, extents, version=1):
    head = struct.pack("<8sIIQQIIQ", b"zenpojnl", version, 0, old_size, new_size, len(extents), len(name),
                       sum(len(b) for _, b in extents)) + name + bytes(-len(name) % 8)
    body = b"".join(struct.pack("<QQ", at, len(b)) for at, b in extents) + b"".join(b for _, b in extents)
    return head[:12] + struct.pack("<I", zlib.adler32(head + body)) + head[16:] + body


# The image of 2048 bytes, a patch of it half done, and the journal that puts it back.
OLD = e2e.IMAGE
MIXED = OLD[:8] + b"\x2a" * 16 + OLD[24:0x400] + b"\x15" * 8 + OLD[0x408:] + b"\x2a" * 52
LEFT = journal(CG.encode(), 2048, 2100, [(8, OLD[8:24]), (0x400, OLD[0x400:0x408])])


class Test(e2e.Test):
    def dump(self, *args, **kw):
        return self.run_(*args, program="zenpo-dump", **kw)


class JournalTest(Test):
    # A journal left beside a half-patched image, written as documented (so one left by either
    # system's build): zenpo-dump and zenpo, with and without ROMFILE, put the image back, say so
    # once, and go on.
    def test_a_journal_left_is_applied(self):
        for program, args, stdout in [("zenpo-dump", [], None), ("zenpo-dump", ["sub/" + CG], None),
                                      ("zenpo", ["font.txt"], e2e.done())]:
            with self.subTest(program=program, args=args):
                where = "sub/" if args and args[0].startswith("sub/") else ""
                self.fresh({where + CG: MIXED, where + JOURNAL: LEFT, "font.txt": e2e.PATCH_A})
                proc = self.run_(*args, program=program)
                source = b"" if where or program == "zenpo" else e2e.SOURCE
                line = PUT_BACK.replace(b"SUBSYSCG", b"sub/SUBSYSCG") if where else PUT_BACK
                self.assertEqual((proc.stderr[:len(source + line)], proc.returncode), (source + line, 0))
                if stdout is not None:
                    self.assertEqual(proc.stdout, stdout)
                self.assertEqual(self.get(where + CG), e2e.IMAGE_A if program == "zenpo" else OLD)
                self.assertFalse(os.path.exists(self.path(where + JOURNAL)))

    # A journal that is damaged, cut short or of another image is never applied: the run names
    # both files and what is wrong, and leaves both as they are. One whose header was never
    # written was cut short before the image changed: it goes without a word.
    def test_journals_that_are_not_applied(self):
        not_applied = lambda journal, why: b"%s: not applied to %s: %s" % (journal, journal[:12], why)
        flipped = LEFT[:-3] + bytes([LEFT[-3] ^ 1]) + LEFT[-2:]
        cases = [
            ({JOURNAL: flipped}, not_applied(JOURNAL.encode(), b"it is damaged: its checksum does not match")),
            ({JOURNAL: LEFT[:-1]}, not_applied(JOURNAL.encode(), b"it is cut short: %d bytes of %d" % (
                len(LEFT) - 1, len(LEFT)))),
            ({JOURNAL: LEFT + b"\0"}, not_applied(JOURNAL.encode(), b"it is longer than its header says: "
                                                                    b"%d bytes of %d" % (len(LEFT) + 1, len(LEFT)))),
            ({JOURNAL: LEFT[:20]}, not_applied(JOURNAL.encode(), b"it is cut short: 20 bytes")),
            ({JOURNAL: b"#!/bin/sh\n" + bytes(60)}, not_applied(JOURNAL.encode(), b"it is not a journal of zenpo")),
            ({JOURNAL: journal(CG.encode(), 2048, 2100, [(8, OLD[8:24])], version=2)},
             not_applied(JOURNAL.encode(), b"it is of version 2, which this program does not read")),
            # Its extents past the image's old size, though its checksum holds.
            ({JOURNAL: journal(CG.encode(), 16, 2100, [(8, OLD[8:24])])},
             not_applied(JOURNAL.encode(), b"it is damaged: its extents do not lie apart inside the "
                                           b"image's old size")),
            # Of another image: another name, or another size.
            ({JOURNAL: journal(C.encode(), 2048, 2100, [(8, OLD[8:24])])},
             not_applied(JOURNAL.encode(), b"it is the journal of SUBSYS_C.ROM")),
            ({JOURNAL: journal(CG.encode(), 1024, 2000, [(8, OLD[8:24])])},
             not_applied(JOURNAL.encode(), b"it is of an image of 1024 bytes (2000 after the patch), "
                                           b"and this one has 2100")),
        ]
        for files, said in cases:
            for program, args, prefix in [("zenpo-dump", [], e2e.SOURCE + b"zenpo-dump: "),
                                          ("zenpo", ["font.txt"], b"")]:
                with self.subTest(said=said, program=program):
                    files = {CG: MIXED, "font.txt": e2e.PATCH_A, **files}
                    self.fresh(files)
                    proc = self.run_(*args, program=program)
                    self.expect(proc, e2e.done(target_only=True) if program == "zenpo" else b"", prefix + said +
                                b"\n", 1, files)
        if not e2e.WINDOWS:  # where a folder opens as a file
            self.fresh({CG: MIXED, JOURNAL: e2e.DIR})
            self.expect(self.dump(), b"", e2e.SOURCE + b"zenpo-dump: " + not_applied(
                JOURNAL.encode(), b"it is not a regular file") + b"\n", 1, {CG: MIXED})
        for program, args, image in [("zenpo-dump", [], MIXED), ("zenpo", ["font.txt"], e2e.IMAGE_A)]:
            self.fresh({CG: MIXED if program == "zenpo-dump" else OLD, JOURNAL: bytes(48) + LEFT[48:],
                        "font.txt": e2e.PATCH_A})
            proc = self.run_(*args, program=program)
            self.assertEqual((proc.returncode, PUT_BACK in proc.stderr, self.get(CG)), (0, False, image))
            self.assertFalse(os.path.exists(self.path(JOURNAL)))

    # Where no journal can be written (a folder that takes no new file, a full disk), nothing is.
    def test_no_journal_no_patch(self):
        if e2e.WINDOWS or STRACE is None or os.geteuid() != 0:
            self.skipTest("needs root, to run as another user, and strace, which makes a POSIX call fail")
        nobody = lambda: (os.setgid(65534), os.setuid(65534))
        zenpo = os.path.join(self.tmp_programs(), "zenpo")
        for run, reason in [(lambda: self.run_("font.txt", program=zenpo, preexec_fn=nobody), b"Permission denied"),
                            # Its old bytes, the second write to it.
                            (lambda: self.traced("pwrite64:error=ENOSPC:when=2"), b"No space left on device")]:
            with self.subTest(reason=reason):
                self.fresh({CG: OLD, "font.txt": e2e.PATCH_A})
                os.chmod(self.dir, 0o755), os.chmod(self.path(CG), 0o666)
                self.expect(run(), e2e.done(target_only=True), b"Failed to write journal: " + reason + b"\n", 1,
                            {CG: OLD})
                self.assertEqual(sorted(os.listdir(self.dir)), [CG, "font.txt"])

    # An image that cannot be written where it is, named to zenpo-dump, is not shown.
    def test_a_read_only_image_is_not_shown(self):
        if e2e.WINDOWS or os.geteuid() != 0:
            self.skipTest("needs root, to run as another user")
        programs = self.tmp_programs()
        self.fresh({CG: MIXED, JOURNAL: LEFT})
        os.chmod(self.dir, 0o755)
        proc = self.run_(CG, program=os.path.join(programs, "zenpo-dump"),
                         preexec_fn=lambda: (os.setgid(65534), os.setuid(65534)))
        self.expect(proc, b"", b"zenpo-dump: SUBSYSCG.ROM: cannot put it back from SUBSYSCG.ROM-journal: "
                    b"Permission denied\n", 1, {CG: MIXED, JOURNAL: LEFT})

    def tmp_programs(self):
        programs = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, programs)
        os.chmod(programs, 0o755)
        for program in ("zenpo", "zenpo-dump"):
            shutil.copy(e2e.PROGRAMS[program], programs)
        return programs


# The calls of a run, as `strace -f -y` gives them: (name, paths of its descriptors, the line).
def calls(trace):
    out = []
    for line in trace.splitlines():
        m = re.match(r"(?:\d+ +)?(\w+)\((.*)", line)
        if m and m.group(1) in WRITING + ("openat",):
            out.append((m.group(1), re.findall(r"\d+<([^>]*)>", m.group(2)), line))
    return out


class KillTest(Test):
    def setUp(self):
        super().setUp()
        if e2e.WINDOWS or STRACE is None:
            self.skipTest("needs strace, which kills a POSIX process at a chosen call")

    # A scattered text patch that grows the image a little, and a binary font that grows one whose
    # old bytes are more than memory keeps: (font name, font, old image, new image).
    def patches(self):
        old = bytes(range(256)) * 256  # 64 KiB
        codes = range(3, 0x2400, 7)
        new = bytearray(old + bytes(0x2400 * 8 - len(old)))
        for c in codes:
            new[c * 8:c * 8 + 8] = b"\x2a" * 8
        big = (bytes(range(251)) * 70000)[:17 << 20]
        font = bytes(reversed(big)) + b"\x55" * (1 << 20)
        return [("font.txt", e2e.glyphs(codes), old, bytes(new[:max(len(old), codes[-1] * 8 + 8)])),
                ("font.bin", font, big, font)]

    def trace(self, name, *args, program="zenpo"):
        out = self.path("trace")
        self.run_(*args, program=program, runner=[STRACE, "-f", "-y", "-s", "0", "-o", out, "-e", "trace=" + ",".join(
            WRITING + ("openat",))], env={"LC_ALL": "C", "ASAN_OPTIONS": "detect_leaks=0"})
        text = pathlib.Path(out).read_text()
        os.remove(out)
        return calls(text)

    # Runs zenpo killed at the `when`th call `call`; then the image is old or new, or the journal
    # beside it is whole and puts it back, through `via`.
    def kill_and_recover(self, name, font, old, new, call, when, via):
        self.fresh({CG: old, name: font})
        killed = self.traced("%s:signal=KILL:when=%d" % (call, when), name, strace=["-f"])
        self.assertIn(killed.returncode, (-9, 0))
        sealed = os.path.exists(self.path(JOURNAL)) and self.get(JOURNAL)[:8] == b"zenpojnl"
        if not sealed:
            self.assertIn(self.get(CG), (old, new))
        proc = self.run_(name) if via == "zenpo" else self.dump("-o", "out.txt")
        self.assertEqual((proc.returncode, PUT_BACK in proc.stderr), (0, sealed), proc.stderr[-300:])
        self.assertFalse(os.path.exists(self.path(JOURNAL)))
        image = self.get(CG)
        self.assertTrue(image == new if via == "zenpo" else image == old if sealed else image in (old, new))
        return sealed

    def test_killed_at_every_writing_call(self):
        for name, font, old, new in self.patches():
            self.fresh({CG: old, name: font})
            counts = {}
            for call, _, _ in self.trace(name, name):
                counts[call] = counts.get(call, 0) + 1
            self.assertEqual(self.get(CG), new)
            self.assertLessEqual({"pwrite64", "fdatasync", "fsync", "unlink"}, set(counts))
            sealed = 0
            for call, count in sorted(counts.items()):
                if call == "openat":
                    continue
                for i, when in enumerate(sorted({1, 2, (count + 1) // 2, count})):
                    with self.subTest(font=name, call=call, when=when):
                        sealed += self.kill_and_recover(name, font, old, new, call, when,
                                                        ("zenpo", "zenpo-dump")[i % 2])
            self.assertGreater(sealed, 3)

    # A recovery killed part-way is finished by the next run.
    def test_killed_recovery(self):
        for name, font, old, new in self.patches():
            self.fresh({CG: old, name: font})
            self.traced("fdatasync:signal=KILL:when=3", name, strace=["-f"])  # the image's sync
            left = self.get(JOURNAL)
            for call in ("copy_file_range", "ftruncate", "fdatasync", "unlink"):
                with self.subTest(font=name, call=call):
                    self.put(JOURNAL, left)
                    killed = self.traced("%s:signal=KILL:when=1" % call, "-o", "out.txt", program="zenpo-dump",
                                         strace=["-f"])
                    self.assertEqual(killed.returncode, -9)
                    left_there = os.path.exists(self.path(JOURNAL))
                    proc = self.dump("-o", "out.txt")
                    self.assertEqual((proc.returncode, PUT_BACK in proc.stderr), (0, left_there))
                    self.assertEqual(self.get(CG), old)
                    self.assertFalse(os.path.exists(self.path(JOURNAL)))

    # The order that a power loss cannot break: the journal's body synced before its header, the
    # header and the folder synced before the image's first write; the image synced before the
    # journal goes, and the folder after.
    def test_order_of_a_power_loss(self):
        for name, font, old, new in self.patches():
            self.fresh({CG: old, name: font})
            trace = self.trace(name, name)
            on = lambda i, path: any(p.endswith(path) for p in trace[i][1][-1:])  # the call's last file
            is_ = lambda i, *names: trace[i][0] in names
            journal_writes = [i for i in range(len(trace)) if is_(i, "pwrite64", "write") and on(i, JOURNAL)]
            header = journal_writes[-1]
            self.assertIn(", 0) = ", trace[header][2])  # at offset 0, last
            syncs = lambda path: [i for i in range(len(trace)) if is_(i, "fdatasync", "fsync") and on(i, path)]
            image_writes = [i for i in range(len(trace)) if is_(i, "write", "pwrite64", "fallocate",
                                                                 "copy_file_range") and on(i, "/" + CG)]
            folder = [i for i in range(len(trace)) if is_(i, "fsync") and on(i, os.path.realpath(self.dir))]
            unlink = [i for i, c in enumerate(trace) if c[0] == "unlink" and JOURNAL in c[2]]
            self.assertTrue(any(journal_writes[-2] < s < header for s in syncs(JOURNAL)))
            self.assertTrue(any(header < s < image_writes[0] for s in syncs(JOURNAL)))
            self.assertTrue(any(header < f < image_writes[0] for f in folder))
            self.assertEqual(len(unlink), 1)
            self.assertTrue(any(image_writes[-1] < s < unlink[0] for s in syncs("/" + CG)))
            self.assertTrue(any(unlink[0] < f for f in folder))


if __name__ == "__main__":
    e2e.main()
