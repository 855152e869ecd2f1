#!/usr/bin/env python3
# End-to-end tests of runs that meet at one image, as when a user starts zenpo in two windows: one
# writes while the others wait. Run it as zenpo_e2e.py:
#     python3 tests/e2e/locking_e2e.py --zenpo /abs/path/to/zenpo [--runner WINE] [unittest args]
import os, subprocess, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import zenpo_e2e as e2e  # noqa: E402

class LockingTest(e2e.Test):
    # Two patches of the same glyphs, apart so that each is a write of its own, started together
    # again and again, with zenpo-dump run until both end: the image ends as one patch left it,
    # whole, and each dump shows it before or after a patch, never a mix.
    def test_one_writer_at_a_time(self):
        count, rows, said = 12000 if e2e.WINDOWS else 30000, ("0101010", "1010101"), []
        wait = b"Waiting for another program that holds SUBSYSCG.ROM\n"
        tally = lambda data, glyph: [data.count(glyph(r)) for r in rows]  # the glyphs of each patch
        for _ in range(4 if e2e.WINDOWS else 6):
            self.fresh({e2e.CG: bytes(16 * count + 16), **{r + ".txt": e2e.glyphs(range(2, 2 * count + 2, 2), [r] * 8)
                                                         for r in rows}})
            runs = [subprocess.Popen([*e2e.RUNNER, e2e.PROGRAMS["zenpo"], r + ".txt"], cwd=self.dir, env=e2e.environment(),
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT) for r in rows]
            while any(p.poll() is None for p in runs):
                dump = self.run_("-o", "-", e2e.CG, "1", "FFFF", program="zenpo-dump")
                said.append(dump.stderr)
                self.assertIn(tally(dump.stdout, lambda r: (r + "\n").encode() * 8), [[0, 0], [0, count], [count, 0]])
            said += [(p.communicate()[0].replace(b"\r\n", b"\n"), p.returncode) for p in runs]
            self.assertIn(tally(self.get(e2e.CG), lambda r: bytes([int(r, 2)] * 8)), [[0, count], [count, 0]])
        met = e2e.done(target_only=True) + wait + b"Done!\n"  # said between the two lines
        self.assertLessEqual(set(said), {b"", wait, (e2e.done(), 0), (met, 0)})
        self.assertIn((met, 0), said)  # the runs met


if __name__ == "__main__":
    e2e.main()
