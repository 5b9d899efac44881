"""examples/duty_sweep.py against a simulated board: its table and its CSV file."""

import csv
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLE = os.path.join(ROOT, "examples", "duty_sweep.py")


class DutySweep(unittest.TestCase):
    def test_sweep_against_a_simulated_board(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "sweep.csv")
            run = subprocess.run([sys.executable, EXAMPLE, "--simulated", "--csv", out], cwd=d,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
            text = run.stdout.decode(errors="replace")
            self.assertEqual(run.returncode, 0, text)
            with open(out, newline="") as f:
                rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["duty [%]", "Isen1 [A]"])
        duties = [int(r[0]) for r in rows[1:]]
        currents = [float(r[1]) for r in rows[1:]]
        self.assertEqual(duties, list(range(0, 101, 10)))
        # The simulated motor draws 1.5 A at full duty, in proportion
        # below, with 1 % of noise.
        for duty, current in zip(duties, currents):
            self.assertAlmostEqual(current, 1.5 * duty / 100, delta=0.02 * 1.5 * duty / 100 + 0.002)
        self.assertIn("     100      1.5", text)

    def test_the_guide_sweeps_in_five_lines(self):
        with open(os.path.join(ROOT, "docs", "scripting.md"), encoding="utf-8") as f:
            blocks = f.read().split("```python\n")[1:]
        sweep = next(b.split("```")[0] for b in blocks if "simulated()" in b and "PWM1_DUTY" in b)
        self.assertLessEqual(len([line for line in sweep.splitlines() if line.strip()]), 5, sweep)
        run = subprocess.run([sys.executable, "-c", sweep], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             timeout=120)
        text = run.stdout.decode(errors="replace")
        self.assertEqual(run.returncode, 0, text)
        readings = [line.split() for line in text.splitlines()]
        self.assertEqual([int(r[0]) for r in readings], list(range(0, 101, 10)))
        self.assertAlmostEqual(float(readings[-1][1]), 1.5, delta=0.03)


if __name__ == "__main__":
    unittest.main()
