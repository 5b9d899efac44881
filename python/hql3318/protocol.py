"""The wire format of the application's scripting socket.

A request is one or more lines ending with LF, fields separated by single
TAB characters: ``set NAME VALUE``, ``get NAME``, ``run NAME [VALUE ...]``.
Values are typed: one letter, then the text (``i42``, ``f2.5``, ``smockup``,
``x0a0b``). The server answers every line and closes the connection; only
``ok`` and ``err`` end with LF, typed results carry no line end.  The text
is 8-bit (Latin-1).
"""

import builtins
import os
import stat

DEFAULT_NAME = "HQL3318"

# The server reads integers as 32-bit signed numbers and turns anything
# else into 0: a larger number must not silently write 0.
INT_MIN = -(1 << 31)
INT_MAX = (1 << 31) - 1

OK = b"ok\n"
ERR = b"err\n"


class Error(Exception):
    """Base of the package's errors."""


class NotRunning(Error):
    """No application answers on the socket."""

    def __init__(self, path, reason=""):
        self.path = path
        text = "no application serves %s" % path
        super().__init__(text + (": " + reason if reason else ""))


class Refused(Error):
    """The socket is served by another user's application, which answers only its own user."""

    def __init__(self, path, uid):
        self.path = path
        self.uid = uid
        super().__init__("%s is served by another user (uid %d); it accepts only requests from its own user"
                         % (path, uid))


class TimeoutError(Error, builtins.TimeoutError):
    """No connection or no complete reply within the client's time-out."""


class CommandError(Error):
    """The application answered ``err`` to a line.

    ``line`` is the line that failed, fields separated by TAB.  ``reason``
    is the error the application logged for it (its ``last_error``), or
    None when it logged none; the message ends with it.
    """

    def __init__(self, line, reason=None):
        self.line = line
        self.reason = reason or None
        text = "the application answered err to: %s" % line.replace("\t", " ")
        super().__init__(text + (": " + reason if reason else ""))


class ProtocolError(Error):
    """A reply that cannot be read."""


def socket_path(pipe=None):
    """The socket for a name, as ``hql3318 --pipe`` and ``hql3318-ctl --pipe`` use it.

    A name starting with '/' is a path.  Otherwise the socket is
    ``$XDG_RUNTIME_DIR/<name>``, or, without that variable,
    ``/tmp/hql3318-<uid>/<name>``: a directory that must belong to the user
    and be closed to everybody else (PermissionError otherwise), so that
    nobody else can plant a socket there.
    """
    name = DEFAULT_NAME if pipe is None else str(pipe)
    if not name:
        raise ValueError("empty socket name")
    if name.startswith("/"):
        return name
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if runtime:
        return os.path.join(runtime, name)
    directory = private_directory()
    check_private_directory(directory)
    return os.path.join(directory, name)


def private_directory():
    """The per-user socket directory used without XDG_RUNTIME_DIR."""
    return "/tmp/hql3318-%d" % os.geteuid()


def check_private_directory(directory):
    """Raises PermissionError unless the directory is the user's own and closed to others.

    A missing directory passes: no application has made it, so connecting
    finds nothing.
    """
    try:
        info = os.lstat(directory)
    except FileNotFoundError:
        return
    if not stat.S_ISDIR(info.st_mode):
        raise PermissionError("%s is not a directory; refusing to use it for the socket" % directory)
    if info.st_uid != os.geteuid():
        raise PermissionError("%s belongs to uid %d, not to you; refusing to use it for the socket"
                              % (directory, info.st_uid))
    if info.st_mode & 0o077:
        raise PermissionError("%s is open to other users (mode %o); refusing to use it for the socket"
                              % (directory, stat.S_IMODE(info.st_mode)))


def _check_text(text, what):
    for bad, label in (("\t", "TAB"), ("\n", "line feed"), ("\r", "carriage return"), ("\0", "NUL")):
        if bad in text:
            raise ValueError("%s %r holds a %s, which the protocol cannot carry" % (what, text, label))
    try:
        text.encode("latin-1")
    except UnicodeEncodeError:
        raise ValueError("%s %r has characters outside Latin-1, which the protocol cannot carry"
                         % (what, text)) from None


def encode_value(value):
    """A Python value as a typed field: bool as i1/i0, int, float, str, bytes."""
    if isinstance(value, bool):
        return "i1" if value else "i0"
    if isinstance(value, int):
        if not INT_MIN <= value <= INT_MAX:
            raise ValueError("%d does not fit the protocol's 32-bit integers" % value)
        return "i%d" % value
    if isinstance(value, float):
        return "f" + repr(value)
    if isinstance(value, str):
        _check_text(value, "text value")
        return "s" + value
    if isinstance(value, (bytes, bytearray, memoryview)):
        return "x" + bytes(value).hex()
    raise TypeError("cannot send a %s: use bool, int, float, str or bytes" % type(value).__name__)


def build_line(word, name, args=()):
    """One request line without its LF."""
    if not isinstance(name, str):
        raise TypeError("a name is a str, not %s" % type(name).__name__)
    _check_text(name, "name")
    if not name:
        raise ValueError("empty name")
    return "\t".join([word, name] + [encode_value(a) for a in args])


def decode_value(field):
    """A typed result (bytes) as a Python value; an empty result is None."""
    if not field:
        return None
    letter, rest = field[:1], field[1:]
    try:
        if letter == b"i":
            return int(rest.decode("ascii"))
        if letter == b"f":
            return float(rest.decode("ascii"))
        if letter == b"s":
            return rest.decode("latin-1")
        if letter == b"x":
            return bytes.fromhex(rest.decode("ascii"))
    except ValueError:
        pass
    raise ProtocolError("cannot read the result %r" % field)


def decode_reply(word, line, reply):
    """The result of a one-line request, or CommandError for ``err``.

    ``set`` gives None.  ``run`` gives True or False for i1 and i0, because
    functions answer booleans; ``get`` gives the integer.
    """
    if reply == ERR:
        raise CommandError(line)
    if word == "set":
        if reply != OK:
            raise ProtocolError("unexpected reply %r to: %s" % (reply, line.replace("\t", " ")))
        return None
    if reply.endswith(b"\n"):
        raise ProtocolError("unexpected reply %r to: %s" % (reply, line.replace("\t", " ")))
    value = decode_value(reply)
    if word == "run" and reply in (b"i0", b"i1"):
        return value == 1
    return value


# Placed after every line of a batch. A set of a name without a dot does
# nothing and answers "ok\n", which no get or run answers: it marks where
# one reply ends. It also keeps two equal lines of a batch apart, which the
# server would otherwise run once.
SEPARATOR = "set\t-\ti0"


def batch_request(lines):
    """The request text of a batch: each line followed by the separator."""
    return "".join(line + "\n" + SEPARATOR + "\n" for line in lines)


def split_batch_reply(words, reply):
    """Splits the reply to batch_request() into one raw reply per line.

    Every reply is followed by "ok\\n" from the separator. A set answers
    exactly "ok\\n" or "err\\n"; a get or run answers "err\\n", nothing, or a
    typed value, which ends where the separator's "ok\\n" begins. Only a text
    result holding a line feed could hide an "ok\\n": the whole reply then
    fails to add up and ProtocolError says so.
    """
    replies = []
    pos = 0
    for word in words:
        if word == "set":
            if reply.startswith(OK, pos):
                part = OK
            elif reply.startswith(ERR, pos):
                part = ERR
            else:
                raise ProtocolError("batch reply does not add up at byte %d: %r" % (pos, reply[pos:pos + 40]))
        elif reply.startswith(ERR, pos):
            part = ERR
        else:
            end = reply.find(OK, pos)
            if end < 0:
                raise ProtocolError("batch reply cut short after %d of %d lines" % (len(replies), len(words)))
            part = reply[pos:end]
        pos += len(part)
        if not reply.startswith(OK, pos):
            raise ProtocolError("batch reply does not add up at byte %d: %r" % (pos, reply[pos:pos + 40]))
        pos += len(OK)
        replies.append(part)
    if pos != len(reply):
        raise ProtocolError("batch reply has %d bytes more than its %d lines explain (a text result "
                            "with a line break cannot be returned by a batch)" % (len(reply) - pos, len(words)))
    return replies
