"""simulated(): starting the programs, passing options, and never leaving a process behind."""

import os
import tempfile
import unittest
from unittest import mock

import hql3318
from hql3318.simulation import simulator_arguments


def children():
    """Process ids whose parent is this process (zombies included)."""
    found = set()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        # The command name may hold blanks: fields follow its closing parenthesis.
        fields = stat[stat.rindex(")") + 2:].split()
        if int(fields[1]) == os.getpid():
            found.add(int(entry))
    return found


class Options(unittest.TestCase):
    def test_keywords_become_arguments(self):
        args = simulator_arguments({"delay": 300, "chip_registers": True, "seed": None, "garbage_after": False,
                                    "error": ["Isen1", "AIN5"], "idn": "Board X"})
        self.assertEqual(args, ["--delay", "300", "--chip-registers", "--error", "Isen1", "--error", "AIN5",
                                "--idn", "Board X"])

    def test_the_module_keeps_its_own_option(self):
        with self.assertRaises(ValueError):
            simulator_arguments({"exit_on_stdin_eof": True})


class Lifetime(unittest.TestCase):
    def setUp(self):
        self.before = children()

    def assertNoProcessLeft(self):
        self.assertEqual(children() - self.before, set())

    def test_options_reach_the_board(self):
        with tempfile.TemporaryDirectory() as d:
            self.addCleanup(os.chdir, os.getcwd())
            os.chdir(d)
            # A relative path means the caller's directory.
            with hql3318.simulated(chip_registers=True, transcript="board.txt") as app:
                # Written after the connect sequence, not overwritten by it.
                app.SpiController["CR5A[]"] = 0x155
                app.SpiController.WriteCR5A()
                self.assertEqual(app.run("write", "get chipCR5A"), b"chipCR5A=341\n")
            with open(os.path.join(d, "board.txt"), encoding="latin-1") as f:
                self.assertIn("get chipCR5A", f.read())
        self.assertNoProcessLeft()

    def test_everything_ends_after_an_exception(self):
        with self.assertRaises(ZeroDivisionError):
            with hql3318.simulated() as app:
                started = children() - self.before
                work = os.path.dirname(app.path)
                self.assertEqual(len(started), 2)
                self.assertTrue(os.path.exists(app.path))
                1 / 0
        self.assertNoProcessLeft()
        self.assertFalse(os.path.exists(work))
        for pid in started:
            self.assertFalse(os.path.exists("/proc/%d" % pid))

    def test_a_bad_option_says_what_the_board_said(self):
        with self.assertRaisesRegex(hql3318.StartError, "no-such-option"):
            with hql3318.simulated(no_such_option=1):
                self.fail("started with an unknown option")
        self.assertNoProcessLeft()

    def test_missing_programs(self):
        with tempfile.TemporaryDirectory() as empty:
            with mock.patch.dict(os.environ, {"HQL3318_BUILD": empty, "PATH": empty}):
                with self.assertRaisesRegex(hql3318.StartError, "cannot find hql3318-sim"):
                    with hql3318.simulated():
                        self.fail("started without programs")
        self.assertNoProcessLeft()


if __name__ == "__main__":
    unittest.main()
