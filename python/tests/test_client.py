"""The client against the real application and the simulated board."""

import builtins
import contextlib
import json
import os
import socket
import tempfile
import threading
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
        with self.assertRaises(AttributeError):
            app.gett("version")
        with self.assertRaises(ValueError):
            app["SpiController.CR0[]"] = 2**40

    def test_errors_carry_the_applications_reason(self):
        app = self.app
        cases = [
            (lambda: app.set("Nowhere.CR0", 1), "Error SET:Nowhere.CR0: there is no window named Nowhere"),
            (lambda: app.SpiController["NoSuchRegister[]"], "SpiController has no parameter NoSuchRegister"),
            (lambda: app.run("functions", "Nowhere"), "Error RUN:functions: there is no window named Nowhere"),
        ]
        for call, reason in cases:
            with self.subTest(reason=reason):
                with self.assertRaises(CommandError) as caught:
                    call()
                self.assertEqual(caught.exception.reason, reason)
                self.assertTrue(str(caught.exception).endswith(": " + reason), str(caught.exception))
        # The package sends no NUL; on the wire a port with one is refused
        # and the board stays connected.
        self.assertEqual(app.request(b"run\topen\ts/dev/tty\0S0\n"), b"err\n")
        self.assertEqual(app.last_error(), "Error RUN:open: the port name holds a NUL byte; nothing was opened")
        self.assertEqual(app.run("write", "get DIO25"), b"DIO25=1\n")
        # In a batch the one failed line gets the reason.
        with self.assertRaises(CommandError) as caught:
            with app.batch() as b:
                b.get("version")
                b.set("Nowhere.CR0", 1)
        self.assertEqual(caught.exception.reason, "Error SET:Nowhere.CR0: there is no window named Nowhere")

    def test_a_misspelt_function_says_so(self):
        app = self.app
        # By name it fails like a function that failed, and the log says why.
        self.assertIs(app.run("Board.setForwrd1"), False)
        self.assertEqual(app.last_error(), "Board has no function setForwrd1")
        self.assertEqual(app.get("last_error"), "")
        # Through the applet it never reaches the application.
        with self.assertRaises(AttributeError):
            app.Board.setForwrd1()
        with self.assertRaises(AttributeError):
            app.Boardd
        with self.assertRaises(AttributeError):
            with app.batch() as b:
                b.SpiController.WriteCR55()
        self.assertIn("setForward1", dir(app.Board))
        self.assertNotIn("setForwrd1", dir(app.Board))
        self.assertEqual(app.functions("WatchDog"), ["WDenable", "setRoutineTime"])
        self.assertEqual(app.parameters("SpiController")[:2], ["WD", "ADDR"])
        self.assertIs(app.Board.setStop1(), True)

    def test_many_clients_at_once(self):
        # More than the application's listen queue holds: the connects wait
        # for room instead of failing.
        barrier = threading.Barrier(300)
        outcomes = []

        def call():
            barrier.wait()
            try:
                outcomes.append(self.app.get("version"))
            except BaseException as e:
                outcomes.append(e)

        threads = [threading.Thread(target=call) for _ in range(300)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        foreign = [o for o in outcomes if isinstance(o, BaseException) and not isinstance(o, hql3318.Error)]
        self.assertEqual(foreign, [])
        self.assertEqual(len(outcomes), 300)
        self.assertTrue(all(o == 1 or isinstance(o, hql3318.Error) for o in outcomes), outcomes)

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

    def test_time_outs_are_the_packages(self):
        # A server that never takes a connection: first its queue has room
        # (the reply never comes), then it is full (the connect never ends).
        path = os.path.join(self.dir.name, "mute")
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as server:
            server.bind(path)
            server.listen(0)
            waiting = []
            self.addCleanup(lambda: [w.close() for w in waiting])
            for what in ("no reply", "full queue"):
                with self.subTest(what):
                    with self.assertRaises(hql3318.TimeoutError) as caught:
                        hql3318.Client(path, timeout=0.3)
                    self.assertIsInstance(caught.exception, hql3318.Error)
                    self.assertIsInstance(caught.exception, builtins.TimeoutError)
                # Fill the queue for the next case.
                while True:
                    w = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                    w.setblocking(False)
                    waiting.append(w)
                    try:
                        w.connect(path)
                    except BlockingIOError:
                        break

    def test_another_users_application_is_refused(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to run the client as another user")
        # Reachable by the user nobody, as a carelessly opened socket would be.
        with tempfile.TemporaryDirectory(dir="/tmp") as d, \
                socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as server:
            os.chmod(d, 0o755)
            path = os.path.join(d, "theirs")
            server.bind(path)
            server.listen(4)
            # Open to all, the server would close the connection; closed to
            # others, the connect fails. Either way the client says why.
            for mode in (0o777, 0o700):
                with self.subTest(mode=oct(mode)):
                    os.chmod(path, mode)
                    self.assertEqual(self._client_as_nobody(path),
                                     "Refused 0: %s is served by another user (uid 0); it accepts only requests "
                                     "from its own user" % path)

    @staticmethod
    def _client_as_nobody(path):
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            said = b"nothing raised"
            try:
                os.setgroups([])
                os.setgid(65534)
                os.setuid(65534)
                hql3318.Client(path, timeout=5)
            except hql3318.Refused as e:
                said = ("Refused %d: %s" % (e.uid, e)).encode()
            except BaseException as e:
                said = repr(e).encode()
            finally:
                os.write(write, said)
                os._exit(0)
        os.close(write)
        with os.fdopen(read, "rb") as f:
            said = f.read().decode()
        os.waitpid(pid, 0)
        return said


if __name__ == "__main__":
    unittest.main()
