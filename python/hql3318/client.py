"""Client of the application's scripting socket."""

import builtins
import os
import socket
import struct
import time

from . import protocol
from .protocol import CommandError, Error, NotRunning, ProtocolError, Refused, TimeoutError

# Before Python 3.10 a socket's time-out is an exception of its own.
_SOCKET_TIMEOUTS = (socket.timeout, builtins.TimeoutError)

# Not every Python names it.
_SO_PEERCRED = getattr(socket, "SO_PEERCRED", 17)

# A batch goes out in requests of at most this size, cut between lines. The
# server takes a request in one read, and a socket write this small arrives
# in one piece.
BATCH_REQUEST_BYTES = 32 * 1024


def _owner(path):
    try:
        return os.stat(path).st_uid
    except OSError:
        return None


class _Commands:
    """get, set and run with item access for values and attribute access for applets.

    Subclasses decide what a call does: the client sends it at once, a batch
    collects it.
    """

    def _call(self, word, name, args):
        raise NotImplementedError

    def get(self, name):
        """Reads a register reference or variable, e.g. ``"SpiController.CR5A[9:8]"``."""
        return self._call("get", name, ())

    def set(self, name, value):
        """Writes a register reference or variable; bool goes as 1 or 0."""
        return self._call("set", name, (value,))

    def run(self, name, *args):
        """Runs a function (``"Board.setForward1"``) or a global command (``"open"``).

        With several arguments the function receives a list. A function
        answers True or False; False is no error (the function says it
        failed), ``err`` raises CommandError.
        """
        return self._call("run", name, args)

    def __getitem__(self, name):
        return self.get(name)

    def __setitem__(self, name, value):
        self.set(name, value)

    def __getattr__(self, name):
        # Applets are named in upper camel case ("Board", "SpiController");
        # anything else is a misspelt method and should fail as one.
        if not name[:1].isupper():
            raise AttributeError("%s has no attribute %r (applet names start with a capital letter)"
                                 % (type(self).__name__, name))
        try:
            self._client_of_names()._function_names(name)
        except CommandError:
            raise AttributeError("the application has no applet %r" % name) from None
        return Applet(self, name)

    def _client_of_names(self):
        raise NotImplementedError


class Applet:
    """One applet of the application: ``client.Board``.

    ``applet.setForward1()`` runs a function, ``applet["CR5A[9:8]"]`` reads
    and ``applet["CR5A[9:8]"] = 2`` writes. A function the applet does not
    have raises AttributeError, and ``dir()`` lists those it has (the
    application is asked once per client).
    """

    def __init__(self, commands, name):
        self._commands = commands
        self._name = name

    def __getitem__(self, member):
        return self._commands.get(self._name + "." + member)

    def __setitem__(self, member, value):
        self._commands.set(self._name + "." + member, value)

    def __getattr__(self, function):
        if function.startswith("_"):
            raise AttributeError(function)
        names = self._names()
        # An application too old to list its functions takes any name.
        if names is not None and function not in names:
            raise AttributeError("applet %s has no function %r" % (self._name, function))
        target = self._name + "." + function

        def call(*args):
            return self._commands.run(target, *args)

        call.__name__ = function
        call.__qualname__ = target
        return call

    def __dir__(self):
        return sorted(set(object.__dir__(self)) | set(self._names() or ()))

    def _names(self):
        return self._commands._client_of_names()._function_names(self._name)

    def __repr__(self):
        return "<hql3318 applet %s>" % self._name


class Client(_Commands):
    """A connection to a running application.

    ``pipe`` is the socket name or path as ``hql3318 --pipe`` takes it (see
    ``socket_path``); ``timeout`` bounds each request in seconds (functions
    that talk to the board take their time). The constructor asks the
    application for its version and raises NotRunning when none answers.

    Every call is one request on its own connection: the application serves
    one request at a time, so calls from several clients never interleave
    within a request.
    """

    def __init__(self, pipe=None, timeout=30.0):
        self._functions = {}
        self.path = protocol.socket_path(pipe)
        self.timeout = timeout
        self.request(b"get\tversion\n")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        """Nothing to release: each request has its own connection."""

    def __repr__(self):
        return "<hql3318.Client %s>" % self.path

    def request(self, data, timeout=None):
        """Sends raw request bytes and returns the raw reply (the protocol for other tools)."""
        timeout = self.timeout if timeout is None else timeout
        deadline = time.monotonic() + timeout

        def late(what):
            return TimeoutError("%s from %s within %g s" % (what, self.path, timeout))

        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            self._connect(s, timeout, late)
            try:
                s.settimeout(max(deadline - time.monotonic(), 0.001))
                s.sendall(data)
            except _SOCKET_TIMEOUTS:
                raise late("no room for the request") from None
            except (BrokenPipeError, ConnectionResetError):
                raise ProtocolError("the application closed the connection before it took the request") from None
            chunks = []
            # The server closes the connection when the reply is complete.
            while True:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise late("no complete reply")
                s.settimeout(left)
                try:
                    chunk = s.recv(65536)
                except _SOCKET_TIMEOUTS:
                    raise late("no complete reply") from None
                except ConnectionResetError:
                    raise ProtocolError("the application closed the connection without a reply") from None
                if not chunk:
                    return b"".join(chunks)
                chunks.append(chunk)

    def _connect(self, s, timeout, late):
        # Blocking, the connect waits while the application's listen queue
        # is full (many clients at once), but no longer than the time-out.
        s.settimeout(None)
        seconds, micro = divmod(max(int(timeout * 1000000), 1), 1000000)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDTIMEO, struct.pack("ll", seconds, micro))
        try:
            s.connect(self.path)
        except (FileNotFoundError, ConnectionRefusedError, NotADirectoryError) as e:
            raise NotRunning(self.path, e.strerror or str(e)) from None
        except PermissionError as e:
            owner = _owner(self.path)
            if owner is not None and owner != os.geteuid():
                raise Refused(self.path, owner) from None
            raise NotRunning(self.path, e.strerror or str(e)) from None
        except BlockingIOError:
            raise late("no connection") from None
        # Another user's application closes the connection without a word:
        # the socket's owner tells why.
        _, uid, _ = struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, _SO_PEERCRED, struct.calcsize("3i")))
        if uid != os.geteuid():
            raise Refused(self.path, uid)

    def _call(self, word, name, args):
        line = protocol.build_line(word, name, args)
        reply = self.request((line + "\n").encode("latin-1"))
        try:
            return protocol.decode_reply(word, line, reply)
        except CommandError:
            raise CommandError(line, self.last_error()) from None

    def last_error(self):
        """The last error the application logged for a request: this one's, or the one before.

        None when there is none or the application cannot tell. CommandError
        asks for it by itself; another client's request in between can take
        its place.
        """
        try:
            reason = protocol.decode_value(self.request(b"get\tlast_error\n"))
        except Error:
            return None
        return reason if isinstance(reason, str) and reason else None

    def functions(self, applet):
        """The names of an applet's functions, sorted (CommandError for an unknown applet).

        None when the application is too old to tell.
        """
        names = self._function_names(applet)
        return None if names is None else list(names)

    def parameters(self, applet):
        """The names of an applet's registers and variables, in their order (CommandError for an unknown applet)."""
        names = self.run("parameters", applet)
        return None if names is None else [n for n in names.split(";") if n]

    def _function_names(self, applet):
        # They do not change while the application runs: asked once.
        if applet not in self._functions:
            names = self.run("functions", applet)
            self._functions[applet] = None if names is None else tuple(n for n in names.split(";") if n)
        return self._functions[applet]

    def _client_of_names(self):
        return self

    def batch(self):
        """Collects calls and sends them together when the ``with`` block ends.

        ::

            with app.batch() as b:
                b.set("SpiController.CR5A[9:8]", 2)
                written = b.run("SpiController.WriteCR5A")
                sr0 = b.SpiController["SR0[]"]
            print(written.value, sr0.value)

        Each call returns a Result, filled when the block ends. Lines run in
        order, one after another, even when they repeat. When a line
        answers ``err``, the others still run; leaving the block then
        raises CommandError for the first one. Its ``reason`` is the last
        error the application logged during the request when that line was
        the only one of the request to fail, None otherwise. Nothing is sent when the
        block raises. A text result holding a line break cannot be told
        apart from the next reply: read such values with ``get``.
        """
        return Batch(self)


class Result:
    """The outcome of one line of a batch, known once the batch was sent."""

    def __init__(self, word, line):
        self.word = word
        self.line = line
        self.done = False
        self._value = None
        self._error = None

    @property
    def ok(self):
        """True once the line has run without ``err``."""
        return self.done and self._error is None

    @property
    def value(self):
        """The line's result; CommandError when it answered ``err``."""
        if not self.done:
            raise RuntimeError("the batch has not been sent")
        if self._error is not None:
            raise self._error
        return self._value

    def _fill(self, reply):
        try:
            self._value = protocol.decode_reply(self.word, self.line, reply)
        except CommandError as e:
            self._error = e
        self.done = True

    def __repr__(self):
        if not self.done:
            state = "pending"
        elif self._error is not None:
            state = "err"
        else:
            state = repr(self._value)
        return "<hql3318.Result %s: %s>" % (self.line.replace("\t", " "), state)


class Batch(_Commands):
    """Lines collected by Client.batch(); see there."""

    def __init__(self, client):
        self._client = client
        self._results = []
        self._sent = False

    @property
    def results(self):
        """Every Result of the batch, in order."""
        return list(self._results)

    def _client_of_names(self):
        return self._client

    def _call(self, word, name, args):
        if self._sent:
            raise RuntimeError("this batch has been sent already")
        result = Result(word, protocol.build_line(word, name, args))
        self._results.append(result)
        return result

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            self._sent = True
            return False
        self.send()
        return False

    def send(self):
        """Sends the collected lines; the ``with`` block does this when it ends."""
        if self._sent:
            raise RuntimeError("this batch has been sent already")
        self._sent = True
        for group in self._groups():
            text = protocol.batch_request(r.line for r in group)
            reply = self._client.request(text.encode("latin-1"))
            if reply == protocol.ERR * (2 * len(group)):
                # The application ran none of it (it is shutting down).
                parts = [protocol.ERR] * len(group)
            else:
                parts = protocol.split_batch_reply([r.word for r in group], reply)
            for result, part in zip(group, parts):
                result._fill(part)
            # The application keeps the last error of a request: it is the
            # reason when one line failed.
            failed = [r for r in group if r._error is not None]
            if len(failed) == 1:
                failed[0]._error = CommandError(failed[0].line, self._client.last_error())
        failed = [r for r in self._results if not r.ok]
        if failed:
            raise failed[0]._error

    def _groups(self):
        group, size = [], 0
        for result in self._results:
            length = len(result.line) + len(protocol.SEPARATOR) + 2
            if group and size + length > BATCH_REQUEST_BYTES:
                yield group
                group, size = [], 0
            group.append(result)
            size += length
        if group:
            yield group
