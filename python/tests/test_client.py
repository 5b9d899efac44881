"""The client against the real application and the simulated board."""

import contextlib
import json
import os
import socket
import tempfile
import unittest

import hql3318
from hql3318 import CommandError, NotRunning


def frames(transcript):
    """The SPI frames the board received, as numbers, in order."""
    with open(transcript, encoding="latin-1") as f:
        words = f.read().split()
    return [int(w[14:], 16) for w in words if w.startswith("SPI0CS0DATA=02")]


class AgainstTheApplication(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        cls.dir = cls.stack.enter_context(tempfile.TemporaryDirectory())
        cls.transcript = os.path.join(cls.dir, "transcript")
        cls.app = cls.stack.enter_context(hql3318.simulated(transcript=cls.transcript))

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def test_values_come_back_as_python_types(self):
        app = self.app
        app["SpiController.CR5A[9:8]"] = 2
        self.assertEqual(app.SpiController["CR5A[9:8]"], 2)
        self.assertIs(type(app.get("SpiController.CR5A[9:8]")), int)
        app.SpiController["CR0[0]"] = True
        self.assertEqual(app["SpiController.CR0[0]"], 1)
        app.Board["PWM1_DUTY"] = 30.0
        self.assertEqual(app.Board["PWM1_DUTY"], 30.0)
        self.assertIs(type(app.Board["PWM1_DUTY"]), float)
        # Bytes both ways: a raw board command and its reply line.
        self.assertEqual(app.run("write", b"get DIO25"), b"DIO25=1\n")
        self.assertEqual(app.get("version"), 1)

    def test_functions_reach_the_chip(self):
        app = self.app
        app["SpiController.CR5A[]"] = 0x123
        before = len(frames(self.transcript))
        self.assertIs(app.SpiController.WriteCR5A(), True)
        sent = frames(self.transcript)[before:]
        self.assertEqual([f & ~0x800 for f in sent], [0x5123])

    def test_errors(self):
        app = self.app
        with self.assertRaises(CommandError) as caught:
            app.set("Nowhere.CR0", 1)
        self.assertEqual(caught.exception.line, "set\tNowhere.CR0\ti1")
        self.assertIsInstance(caught.exception, hql3318.Error)
        with self.assertRaises(CommandError):
            app.SpiController["NoSuchRegister[]"]
        with self.assertRaises(AttributeError):
            app.gett("version")
        with self.assertRaises(ValueError):
            app["SpiController.CR0[]"] = 2**40

    def test_batch_runs_every_line_in_order(self):
        app = self.app
        before = len(frames(self.transcript))
        with app.batch() as b:
            b.SpiController["CR6A[]"] = 0x0AB
            first = b.SpiController.WriteCR6A()
            # The same line twice runs twice.
            second = b.SpiController.WriteCR6A()
            value = b.get("SpiController.CR6A[]")
            nothing = b.run("no_such_command")
            version = b["version"]
        self.assertEqual((first.value, second.value, value.value, nothing.value, version.value),
                         (True, True, 0x0AB, None, 1))
        sent = frames(self.transcript)[before:]
        self.assertEqual([f & ~0x800 for f in sent], [0x60AB, 0x60AB])
        # The watchdog bit toggles from frame to frame.
        self.assertNotEqual(sent[0] & 0x800, sent[1] & 0x800)

    def test_batch_with_an_err_runs_the_rest(self):
        app = self.app
        with self.assertRaises(CommandError) as caught:
            with app.batch() as b:
                bad = b.set("Nowhere.CR0", 1)
                good = b.set("SpiController.CR7A[1:0]", 3)
        self.assertEqual(caught.exception.line, "set\tNowhere.CR0\ti1")
        self.assertFalse(bad.ok)
        self.assertTrue(good.ok)
        with self.assertRaises(CommandError):
            bad.value
        self.assertEqual(app["SpiController.CR7A[1:0]"], 3)

    def test_batch_sends_nothing_when_the_block_fails(self):
        app = self.app
        app["SpiController.CR8A[1:0]"] = 0
        with self.assertRaises(KeyError):
            with app.batch() as b:
                pending = b.set("SpiController.CR8A[1:0]", 2)
                raise KeyError("stop")
        self.assertEqual(app["SpiController.CR8A[1:0]"], 0)
        with self.assertRaises(RuntimeError):
            pending.value

    def test_large_batch_goes_in_several_requests(self):
        app = self.app
        # The SPI controller's registers change the model only: no board
        # traffic, so thousands of lines are quick.
        values = [(n * 37) % 0x800 for n in range(1500)]
        with app.batch() as b:
            reads = []
            for value in values:
                b.SpiController["CR4[]"] = value
                reads.append(b.SpiController["CR4[]"])
        self.assertGreater(sum(len(r.line) for r in b.results), 2 * hql3318.client.BATCH_REQUEST_BYTES)
        self.assertEqual([r.value for r in reads], values)

    def test_exported_json_holds_the_model(self):
        app = self.app
        app["SpiController.CR5B[6:3]"] = 7
        path = os.path.join(self.dir, "registers.json")
        self.assertIs(app.run("export_registers", path), True)
        with open(path, encoding="utf-8") as f:
            exported = {r["name"]: r for r in json.load(f)["registers"]}
        self.assertEqual(exported["CR5B"]["value"], app["SpiController.CR5B[]"])
        field = next(f for f in exported["CR5B"]["fields"] if f["name"] == "T_DLY1")
        self.assertEqual((field["lsb"], field["msb"], field["value"]), (3, 6, 7))
        with self.assertRaises(CommandError):
            app.run("export_registers", os.path.join(self.dir, "registers.txt"))


class WithoutAnApplication(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def test_no_socket(self):
        with self.assertRaises(NotRunning):
            hql3318.Client(os.path.join(self.dir.name, "none"))

    def test_socket_left_by_a_crashed_run(self):
        path = os.path.join(self.dir.name, "stale")
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.bind(path)
        with self.assertRaises(NotRunning):
            hql3318.Client(path)


if __name__ == "__main__":
    unittest.main()
