"""The application and the simulated board as child processes, for tests and CI."""

import contextlib
import os
import selectors
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from .client import Client
from .protocol import CommandError, Error, NotRunning

START_TIMEOUT = 20.0
STOP_TIMEOUT = 10.0

# Options this module sets itself.
_RESERVED = {"exit_on_stdin_eof"}


class StartError(Error):
    """A program could not be found or did not start; the message holds its output."""


def find_program(name):
    """The path of one of the programs: $HQL3318_BUILD first, then PATH.

    The build directory comes first so that tests run what was just built,
    not an older copy installed on PATH.
    """
    build = os.environ.get("HQL3318_BUILD", "")
    if build:
        candidate = os.path.join(build, name)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    found = shutil.which(name)
    if found:
        return found
    where = "in $HQL3318_BUILD (%s) or on PATH" % build if build else "on PATH (or set HQL3318_BUILD)"
    raise StartError("cannot find %s %s" % (name, where))


def simulator_arguments(options):
    """Simulator options from keywords: ``delay=300`` gives ``--delay 300``.

    True gives a bare flag, False and None nothing, a list or tuple one
    option per item (``error=["Isen1", "AIN5"]``).
    """
    args = []
    for key, value in options.items():
        if key in _RESERVED:
            raise ValueError("%s is always set by simulated()" % key)
        flag = "--" + key.replace("_", "-")
        values = value if isinstance(value, (list, tuple)) else [value]
        for item in values:
            if item is True:
                args.append(flag)
            elif item is False or item is None:
                continue
            else:
                args += [flag, str(item)]
    return args


def _die_with_parent():
    """Makes a child end when this process ends, even killed (Linux).

    The guard runs in the child between fork and exec, which is only safe
    while this process has one thread: with more, the with-block alone
    stops the programs.
    """
    if threading.active_count() > 1:
        return None
    try:
        import ctypes
        prctl = ctypes.CDLL(None, use_errno=True).prctl
    except (ImportError, OSError, AttributeError):
        return None
    PR_SET_PDEATHSIG = 1

    def arm():
        prctl(PR_SET_PDEATHSIG, signal.SIGTERM)

    return arm


def _tail(path, limit=4000):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return ""
    return data[-limit:].decode("utf-8", "replace")


def _first_line(process, timeout):
    """The first line the process prints, or None when it ends or takes too long."""
    deadline = time.monotonic() + timeout
    line = b""
    with selectors.DefaultSelector() as selector:
        selector.register(process.stdout, selectors.EVENT_READ)
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not selector.select(left):
                return None
            chunk = os.read(process.stdout.fileno(), 4096)
            if not chunk:
                return None
            line += chunk
    return line.split(b"\n", 1)[0].decode("utf-8", "replace").strip()


def _stop(process, timeout):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


@contextlib.contextmanager
def simulated(**sim_options):
    """Starts the simulated board and the application, opens the board, yields a Client.

    ::

        with hql3318.simulated(delay=5) as app:
            app.Board.setForward1()

    The keywords are the simulator's options (see ``hql3318-sim --help``):
    ``delay=300`` becomes ``--delay 300``, ``chip_registers=True`` becomes
    ``--chip-registers``. The application runs headless in a private
    temporary directory (its settings, log files and socket stay there).
    The client is yielded once the application has sent the configuration
    it sends after connecting. Both programs are shut down when the block
    ends, also after an exception, and are gone before this returns; they
    also end with this process if it is killed.
    """
    sim_args = simulator_arguments(sim_options)
    sim_program = find_program("hql3318-sim")
    app_program = find_program("hql3318")
    work = tempfile.mkdtemp(prefix="hql3318-")
    # The board's transcript shows when the connect sequence is over.
    transcript = sim_options.get("transcript")
    if not transcript:
        transcript = os.path.join(work, "transcript")
        sim_args += ["--transcript", transcript]
    arm = _die_with_parent()
    sim = app = None
    files = []
    try:
        sim_err = open(os.path.join(work, "sim.err"), "wb")
        files.append(sim_err)
        # The board runs where the caller is, so that relative paths in its
        # options (transcript, flash dump) mean what the caller meant.
        sim = subprocess.Popen([sim_program, "--exit-on-stdin-eof"] + sim_args,
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=sim_err,
                               preexec_fn=arm)
        port = _first_line(sim, START_TIMEOUT)
        if not port:
            with contextlib.suppress(subprocess.TimeoutExpired):
                sim.wait(2)
            raise StartError("the simulated board did not start:\n" + _tail(sim_err.name))

        socket_path = os.path.join(work, "socket")
        app_log = open(os.path.join(work, "app.log"), "wb")
        files.append(app_log)
        app = subprocess.Popen([app_program, "--headless", "--pipe", socket_path, "--port", port],
                               cwd=work, stdin=subprocess.DEVNULL, stdout=app_log, stderr=subprocess.STDOUT,
                               preexec_fn=arm)
        client = _wait_for_server(app, socket_path, app_log.name)
        heard = _size(transcript)
        client.run("open", port)
        _settle(transcript, heard)
        try:
            # Applet names answer only while a board is connected.
            client.get("SpiController.CR0[]")
        except CommandError:
            raise StartError("the application did not connect to the simulated board at %s:\n%s"
                             % (port, _tail(app_log.name))) from None
        yield client
    finally:
        try:
            if app is not None and app.poll() is None:
                with contextlib.suppress(Error, OSError):
                    Client(os.path.join(work, "socket"), timeout=STOP_TIMEOUT).run("shutdown")
                try:
                    app.wait(STOP_TIMEOUT)
                except subprocess.TimeoutExpired:
                    pass
            _stop(app, STOP_TIMEOUT)
        finally:
            if sim is not None:
                # The board ends with its standard input.
                with contextlib.suppress(OSError):
                    sim.stdin.close()
                try:
                    sim.wait(STOP_TIMEOUT)
                except subprocess.TimeoutExpired:
                    pass
                _stop(sim, STOP_TIMEOUT)
                sim.stdout.close()
            for f in files:
                f.close()
            shutil.rmtree(work, ignore_errors=True)


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def _settle(transcript, before, timeout=5.0, quiet=0.2):
    """Waits until the board has heard the connect sequence and then nothing for a while.

    The application answers "open" before its board window writes the
    default configuration and reads the status (shortly after, on a timer):
    a script's first writes must come after that, not be overwritten by it.
    """
    deadline = time.monotonic() + timeout
    size = _size(transcript)
    # The status update follows the connect: wait until it has begun...
    while size <= before and time.monotonic() < deadline:
        time.sleep(0.02)
        size = _size(transcript)
    # ...and until the board has been quiet for a moment.
    still = time.monotonic()
    while time.monotonic() < deadline and time.monotonic() - still < quiet:
        time.sleep(0.02)
        now = _size(transcript)
        if now != size:
            size, still = now, time.monotonic()


def _wait_for_server(app, path, log):
    deadline = time.monotonic() + START_TIMEOUT
    while True:
        if app.poll() is not None:
            raise StartError("the application ended at start (status %d):\n%s" % (app.returncode, _tail(log)))
        try:
            return Client(path)
        except NotRunning:
            pass
        if time.monotonic() > deadline:
            raise StartError("the application did not open its socket within %g s:\n%s"
                             % (START_TIMEOUT, _tail(log)))
        # Nothing to block on until the socket exists: look again shortly.
        time.sleep(0.05)
