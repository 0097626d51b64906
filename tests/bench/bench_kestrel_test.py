"""Checks how the benchmark reads a run of kestrel-align: which exit statuses count as a result."""
import os
import stat
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench"))
import bench_kestrel  # noqa: E402

MATRIX = "[[1,0,0,0],[0,1,0,0],[0,0,1,0],[0,0,0,1]]"


class RunStatus(unittest.TestCase):
    """A stand-in aligner prints a JSON line (or none) and exits with a given status."""

    def run_with(self, folder, status, line):
        program = os.path.join(folder, "align.sh")
        with open(program, "w") as f:
            f.write(f"#!/bin/sh\necho '{line}'\nexit {status}\n")
        os.chmod(program, os.stat(program).st_mode | stat.S_IEXEC)
        return bench_kestrel.run_align(program, [], "p.xyz", "q.xyz",
                                       os.path.join(folder, "out.tfm"), timeout=30)

    def test_statuses(self):
        rows = [  # exit status, printed line, status the benchmark reports
            (0, '{"matrix": %s, "verdict": "confident"}' % MATRIX, "ok"),
            # Written but not confident: still the run's answer.
            (3, '{"matrix": %s, "verdict": "uncertain"}' % MATRIX, "ok"),
            (3, '{"error": "no motion"}', "failed"),
            (2, '{"error": "no motion"}', "failed"),
            (1, "bad input", "failed"),
            (0, "no JSON at all", "failed"),
        ]
        for status, line, expected in rows:
            with tempfile.TemporaryDirectory() as folder:
                out = self.run_with(folder, status, line)
                self.assertEqual(out["status"], expected, (status, line))
                if expected == "ok":
                    self.assertIsNotNone(out["matrix"])


if __name__ == "__main__":
    unittest.main()
