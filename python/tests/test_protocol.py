"""The wire format, without a server: typed values, replies, batch splitting, socket paths."""

import math
import os
import tempfile
import unittest
from unittest import mock

from hql3318 import protocol
from hql3318.protocol import CommandError, ProtocolError


class TypedValues(unittest.TestCase):
    def test_encode(self):
        cases = [
            (True, "i1"), (False, "i0"), (42, "i42"), (-7, "i-7"), (2**31 - 1, "i2147483647"),
            (2.5, "f2.5"), (1e-20, "f1e-20"), ("mockup", "smockup"), ("Gr\u00fc\u00dfe", "sGr\u00fc\u00dfe"),
            ("", "s"), (b"\x0a\x0b", "x0a0b"), (bytearray(b"\xff"), "xff"),
        ]
        for value, field in cases:
            with self.subTest(value=value):
                self.assertEqual(protocol.encode_value(value), field)

    def test_encode_refuses_what_the_wire_cannot_carry(self):
        # Each of these would reach the application as something else: a
        # number that reads as 0, a line cut in two, a text cut short.
        cases = [
            (2**31, ValueError), (-(2**31) - 1, ValueError), ("a\tb", ValueError), ("a\nb", ValueError),
            ("a\rb", ValueError), ("a\0b", ValueError), ("\u20ac", ValueError), (None, TypeError),
            ([1, 2], TypeError),
        ]
        for value, error in cases:
            with self.subTest(value=value):
                with self.assertRaises(error):
                    protocol.encode_value(value)

    def test_names_are_checked_too(self):
        self.assertEqual(protocol.build_line("run", "Board.setForward1"), "run\tBoard.setForward1")
        self.assertEqual(protocol.build_line("run", "open", ["/dev/pts/3", 1]), "run\topen\ts/dev/pts/3\ti1")
        for bad in ("Board.set\tx", "Board\n", ""):
            with self.subTest(name=bad):
                with self.assertRaises(ValueError):
                    protocol.build_line("get", bad)

    def test_decode(self):
        cases = [
            ("get", b"i5", 5), ("get", b"i-3", -3), ("get", b"i1", 1), ("run", b"i1", True), ("run", b"i0", False),
            ("run", b"i2", 2), ("get", b"f2.5", 2.5), ("get", b"f1e+20", 1e20), ("get", b"sGr\xfc\xdfe", "Gr\u00fc\u00dfe"),
            ("run", b"x0a0b", b"\x0a\x0b"), ("run", b"x", b""), ("get", b"", None), ("set", b"ok\n", None),
        ]
        for word, reply, value in cases:
            with self.subTest(reply=reply):
                result = protocol.decode_reply(word, word + "\tX.y", reply)
                self.assertEqual(result, value)
                self.assertIs(type(result), type(value))

    def test_decode_special_reals(self):
        self.assertEqual(protocol.decode_reply("get", "get\tX.y", b"finf"), math.inf)
        self.assertTrue(math.isnan(protocol.decode_reply("get", "get\tX.y", b"fnan")))

    def test_err_carries_the_line(self):
        with self.assertRaises(CommandError) as caught:
            protocol.decode_reply("set", "set\tNope.x\ti1", b"err\n")
        self.assertEqual(caught.exception.line, "set\tNope.x\ti1")

    def test_unreadable_replies(self):
        for word, reply in (("set", b"i1"), ("get", b"ok\n"), ("get", b"q1"), ("get", b"ix"), ("get", b"x0")):
            with self.subTest(reply=reply):
                with self.assertRaises(ProtocolError):
                    protocol.decode_reply(word, word + "\tX.y", reply)


class BatchReplies(unittest.TestCase):
    def test_request_separates_every_line(self):
        text = protocol.batch_request(["run\tA.f", "run\tA.f"])
        self.assertEqual(text, "run\tA.f\nset\t-\ti0\nrun\tA.f\nset\t-\ti0\n")

    def test_split(self):
        ok, err = b"ok\n", b"err\n"
        cases = [
            (["set"], ok + ok, [ok]),
            (["set"], err + ok, [err]),
            (["get", "get"], b"i5" + ok + b"i6" + ok, [b"i5", b"i6"]),
            # Nothing (a result without an encoding) and err among values.
            (["get", "run", "get"], ok + err + ok + b"f2.5" + ok, [b"", err, b"f2.5"]),
            (["set", "get", "set"], ok + ok + b"x0a0b" + ok + err + ok, [ok, b"x0a0b", err]),
            # Texts may hold anything but a line break.
            (["get", "get"], b"sok err" + ok + b"s" + ok, [b"sok err", b"s"]),
        ]
        for words, reply, parts in cases:
            with self.subTest(reply=reply):
                self.assertEqual(protocol.split_batch_reply(words, reply), parts)

    def test_split_refuses_what_does_not_add_up(self):
        ok = b"ok\n"
        cases = [
            (["get", "get"], b"i5" + ok),                       # cut short
            (["set"], b"i1" + ok),                              # set answered a value
            (["get"], b"i5" + ok + b"i6" + ok),                 # more than asked
            (["get", "get"], b"sa" + ok + b"b" + ok + b"sc" + ok),  # a text with "ok\n" in it
        ]
        for words, reply in cases:
            with self.subTest(reply=reply):
                with self.assertRaises(ProtocolError):
                    protocol.split_batch_reply(words, reply)


class SocketPaths(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def test_names_and_paths(self):
        with mock.patch.dict(os.environ, {"XDG_RUNTIME_DIR": "/run/user/1000"}):
            self.assertEqual(protocol.socket_path(), "/run/user/1000/HQL3318")
            self.assertEqual(protocol.socket_path("bench2"), "/run/user/1000/bench2")
            self.assertEqual(protocol.socket_path("/tmp/x/sock"), "/tmp/x/sock")

    def private(self, mode=0o700, owner=None):
        path = os.path.join(self.dir.name, "hql3318-%d" % os.getuid())
        os.mkdir(path)
        os.chmod(path, mode)
        if owner is not None:
            os.chown(path, owner, -1)
        return path

    def without_runtime_dir(self, directory):
        env = {k: v for k, v in os.environ.items() if k != "XDG_RUNTIME_DIR"}
        return mock.patch.multiple(protocol, private_directory=lambda: directory), mock.patch.dict(
            os.environ, env, clear=True)

    def test_private_directory_without_runtime_dir(self):
        directory = self.private()
        patch_dir, patch_env = self.without_runtime_dir(directory)
        with patch_dir, patch_env:
            self.assertEqual(protocol.socket_path("x"), os.path.join(directory, "x"))

    def test_default_private_directory(self):
        self.assertEqual(protocol.private_directory(), "/tmp/hql3318-%d" % os.getuid())

    def test_refuses_a_directory_open_to_others(self):
        directory = self.private(0o755)
        patch_dir, patch_env = self.without_runtime_dir(directory)
        with patch_dir, patch_env:
            with self.assertRaisesRegex(PermissionError, "open to other users"):
                protocol.socket_path("x")

    def test_refuses_a_directory_of_another_user(self):
        if os.getuid() != 0:
            self.skipTest("making a directory of another user needs root")
        directory = self.private(0o700, owner=65534)
        patch_dir, patch_env = self.without_runtime_dir(directory)
        with patch_dir, patch_env:
            with self.assertRaisesRegex(PermissionError, "belongs to uid 65534"):
                protocol.socket_path("x")

    def test_refuses_a_link_in_place_of_the_directory(self):
        real = self.private()
        link = real + "-link"
        os.symlink(real, link)
        patch_dir, patch_env = self.without_runtime_dir(link)
        with patch_dir, patch_env:
            with self.assertRaisesRegex(PermissionError, "not a directory"):
                protocol.socket_path("x")

    def test_missing_directory_means_not_running(self):
        # Nobody made it: connecting will find no application.
        missing = os.path.join(self.dir.name, "none")
        patch_dir, patch_env = self.without_runtime_dir(missing)
        with patch_dir, patch_env:
            self.assertEqual(protocol.socket_path("x"), os.path.join(missing, "x"))
        self.assertFalse(os.path.exists(missing))


if __name__ == "__main__":
    unittest.main()
