"""A script's board read on a modelled USB serial line (115200 baud, an
adapter latency of 1 ms and of 16 ms): ``run write sget VER`` through the
application with the Python package, against a client of the standard
library alone that writes the same line to a board of its own on the same
line and reads the reply. The sides take turns read by read.

Two more sides show where the difference goes: the same request to a
minimal server that does only this read on a board of its own
(bench/scriptfloor.cpp), and a request to the application that does not
reach the board ("get version"), the fixed cost of one connection.

The application is started without ``--port`` and then asked to "open" the
board, as hql3318.simulated() would do but for that option: with it, the
start-up probe of that port, cut short by "open" while its ACK is still on
the slow line, leaves the ACK in the port, and the connect's presence check
then finds input waiting and gives up.

Prints, for L = 1 and 16:
        BENCH wire_script_read_ratio_<L>ms <median application / median direct> x target <= 1.05
"""
import contextlib
import os
import statistics
import subprocess
import sys
import tempfile
import termios
import time
import tty

import hql3318
from hql3318.protocol import Error, NotRunning
from hql3318.simulation import find_program

LINE = b"get VER\n"


def rounds_for(latency):
    if "HQL_BENCH_ROUNDS" in os.environ:
        return max(1, int(os.environ["HQL_BENCH_ROUNDS"]))
    # A round trip costs about 35 ms at 16 ms latency.
    return 60 if latency > 4 else 200


def run_on_one_processor():
    """Both sides and their boards wait on the same scheduler (see bench/directclient.h)."""
    allowed = os.sched_getaffinity(0)
    if allowed:
        os.sched_setaffinity(0, {min(allowed)})


def direct_read(fd):
    os.write(fd, LINE)
    reply = b""
    while not reply.endswith(b"\n"):
        chunk = os.read(fd, 4096)
        if not chunk:
            raise OSError("the board's terminal closed")
        reply += chunk
    return reply


def open_terminal(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    termios.tcflush(fd, termios.TCIOFLUSH)
    return fd


def line_count(path):
    try:
        with open(path, "rb") as f:
            return f.read().count(b"\n")
    except OSError:
        return 0


def start_sim(latency, transcript=None):
    """A simulated board on the modelled line and the path of its terminal."""
    args = [find_program("hql3318-sim"), "--exit-on-stdin-eof", "--baud", "115200", "--latency", str(latency)]
    if transcript:
        args += ["--transcript", transcript]
    sim = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    return sim, sim.stdout.readline().decode().strip()


def stop_sim(sim):
    sim.stdin.close()
    sim.wait(5)
    sim.stdout.close()


@contextlib.contextmanager
def application(port, work):
    """The application, headless in work, connected to port; yields its client."""
    socket_path = os.path.join(work, "socket")
    app = subprocess.Popen([find_program("hql3318"), "--headless", "--pipe", socket_path], cwd=work,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 20
        while True:
            try:
                client = hql3318.Client(socket_path)
                break
            except NotRunning:
                if app.poll() is not None or time.monotonic() > deadline:
                    raise
            # Nothing to block on until the socket exists.
            time.sleep(0.05)
        # "open" answers once the windows have set the board up.
        client.run("open", port)
        client.get("SpiController.CR0[]")
        yield client
    finally:
        with contextlib.suppress(Error, OSError):
            hql3318.Client(socket_path, timeout=10).run("shutdown")
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            app.kill()
            app.wait()


def measure(latency, work):
    """The median ratio at one latency, or None after a failure."""
    work = os.path.join(work, "%dms" % latency)
    os.mkdir(work)
    heard = os.path.join(work, "transcript")
    sims = [start_sim(latency), start_sim(latency, heard), start_sim(latency)]
    (_, direct_port), (_, app_port), (_, floor_port) = sims
    fd = None
    floor = None
    try:
        fd = open_terminal(direct_port)
        floor_path = os.path.join(work, "floor")
        floor = subprocess.Popen([os.environ["HQL_SCRIPT_FLOOR"], floor_path, floor_port], stdout=subprocess.PIPE)
        if floor.stdout.readline() != b"ready\n":
            print("bench_wire_script: the minimal server did not start", file=sys.stderr)
            return None
        minimal = hql3318.Client(floor_path)
        with application(app_port, work) as app:
            expected = direct_read(fd)
            before = line_count(heard)
            if (app.run("write", LINE.decode().rstrip("\n")) != expected
                    or minimal.run("write", "get VER") != expected):
                print("bench_wire_script: the sides read different versions", file=sys.stderr)
                return None
            with open(heard, "rb") as f:
                if f.read().split(b"\n")[before:] != [LINE.rstrip(b"\n"), b""]:
                    print("bench_wire_script: the application wrote other lines than", LINE,
                          file=sys.stderr)
                    return None
            sides = {"direct": lambda: direct_read(fd),
                     "application": lambda: app.run("write", "get VER"),
                     "minimal": lambda: minimal.run("write", "get VER"),
                     "no board": lambda: app.get("version")}
            times = {name: [] for name in sides}
            rounds = rounds_for(latency)
            for _ in range(rounds):
                for name, read in sides.items():
                    start = time.perf_counter_ns()
                    read()
                    times[name].append(time.perf_counter_ns() - start)
    finally:
        if floor:
            floor.kill()
            floor.wait(5)
            floor.stdout.close()
        if fd is not None:
            os.close(fd)
        for sim, _ in sims:
            stop_sim(sim)
    d, a, m, n = (statistics.median(times[name]) / 1e6
                  for name in ("direct", "application", "minimal", "no board"))
    print("# board read from Python at %d ms latency, %d rounds: direct p50 %.2f ms, through the application "
          "p50 %.2f ms, through a minimal server p50 %.2f ms; a request without the board p50 %.2f ms"
          % (latency, rounds, d, a, m, n))
    return a / d


def main():
    run_on_one_processor()
    with tempfile.TemporaryDirectory() as work:
        for latency in (1, 16):
            ratio = measure(latency, work)
            if ratio is None:
                return 1
            print("BENCH wire_script_read_ratio_%dms %.3f x target <= 1.05" % (latency, ratio), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
