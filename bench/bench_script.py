"""A script's board read: one socket request through the application
(``run write sget VER`` with the Python package) against the same read
that a user without the application writes with the standard library on
the board's terminal. A third side sends the same request to a minimal
server (bench/scriptfloor.cpp) that only does this read: what any server
of a one-request-per-connection protocol adds, so the application's own
share can be told from the protocol's. A fourth side reads in batches of
ten lines per request, the way docs/scripting.md advises for loops. The
sides take turns in blocks of ten reads, so drift of the machine falls on
all of them, and what a side leaves to do after its reply (closing,
logging) falls on itself rather than on the next one.

Prints: BENCH script_read_ratio <median application / median direct> x
        BENCH script_read_floor_ratio <median minimal server / median direct> x
        BENCH script_batch_read_ratio <median batch per read / median direct> x
"""
import os
import statistics
import subprocess
import sys
import tempfile
import termios
import time
import tty

import hql3318
from hql3318.simulation import find_program

ROUNDS = int(os.environ.get("HQL_BENCH_ROUNDS", "300"))
BATCH = 10
BLOCK = 10


def direct_read(fd):
    os.write(fd, b"get VER\n")
    reply = b""
    while not reply.endswith(b"\n"):
        reply += os.read(fd, 4096)
    return reply


def open_terminal(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    termios.tcflush(fd, termios.TCIOFLUSH)
    return fd


def start_sim():
    """A simulated board and the path of its terminal."""
    sim = subprocess.Popen([find_program("hql3318-sim"), "--exit-on-stdin-eof"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    return sim, sim.stdout.readline().decode().strip()


def batch_read(app):
    with app.batch() as b:
        for _ in range(BATCH):
            b.run("write", "get VER")


def main():
    (direct_sim, direct_port), (floor_sim, floor_port) = start_sim(), start_sim()
    floor = None
    work = tempfile.TemporaryDirectory()
    try:
        fd = open_terminal(direct_port)
        floor_path = os.path.join(work.name, "floor")
        floor = subprocess.Popen([os.environ["HQL_SCRIPT_FLOOR"], floor_path, floor_port],
                                 stdout=subprocess.PIPE)
        if floor.stdout.readline() != b"ready\n":
            print("bench_script: the minimal server did not start", file=sys.stderr)
            return 1
        minimal = hql3318.Client(floor_path)
        with hql3318.simulated() as app:
            expected = direct_read(fd)
            if app.run("write", "get VER") != expected or minimal.run("write", "get VER") != expected:
                print("bench_script: the sides read different versions", file=sys.stderr)
                return 1
            sides = {"direct": lambda: direct_read(fd),
                     "application": lambda: app.run("write", "get VER"),
                     "minimal": lambda: minimal.run("write", "get VER"),
                     "batch": lambda: batch_read(app)}
            times = {name: [] for name in sides}
            for _ in range(ROUNDS // BLOCK):
                for name, read in sides.items():
                    for _ in range(BLOCK):
                        start = time.perf_counter_ns()
                        read()
                        times[name].append(time.perf_counter_ns() - start)
        os.close(fd)
    finally:
        if floor:
            floor.kill()
            floor.wait(5)
        for sim in (direct_sim, floor_sim):
            sim.stdin.close()
            sim.wait(5)
        work.cleanup()
    d, t, m, b = (statistics.median(times[name]) / 1000
                  for name in ("direct", "application", "minimal", "batch"))
    b /= BATCH
    print("# board read from Python: direct p50 %.1f us, through the application p50 %.1f us, "
          "through a minimal server p50 %.1f us, in batches of %d p50 %.1f us a read"
          % (d, t, m, BATCH, b))
    print("# the application against the minimal server: %.2f x" % (t / m))
    print("BENCH script_read_ratio %.2f x" % (t / d))
    print("BENCH script_read_floor_ratio %.2f x" % (m / d))
    print("BENCH script_batch_read_ratio %.2f x" % (b / d))
    return 0


if __name__ == "__main__":
    sys.exit(main())
