"""A script's board read: one socket request through the application
(``run write sget VER`` with the Python package) against the same read
that a user without the application writes with the standard library on
the board's terminal. The two sides alternate, so drift of the machine
falls on both.

Prints: BENCH script_read_ratio <median application / median direct> x target <= 1.5
"""
import os
import statistics
import subprocess
import sys
import termios
import time
import tty

import hql3318
from hql3318.simulation import find_program

ROUNDS = int(os.environ.get("HQL_BENCH_ROUNDS", "300"))


def direct_read(fd):
    os.write(fd, b"get VER\n")
    reply = b""
    while not reply.endswith(b"\n"):
        reply += os.read(fd, 4096)
    return reply


def main():
    sim = subprocess.Popen([find_program("hql3318-sim"), "--exit-on-stdin-eof"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        port = sim.stdout.readline().decode().strip()
        fd = os.open(port, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        termios.tcflush(fd, termios.TCIOFLUSH)
        with hql3318.simulated() as app:
            expected = direct_read(fd)
            if app.run("write", "get VER") != expected:
                print("bench_script: the two sides read different versions", file=sys.stderr)
                return 1
            direct, through = [], []
            for _ in range(ROUNDS):
                start = time.perf_counter_ns()
                direct_read(fd)
                direct.append(time.perf_counter_ns() - start)
                start = time.perf_counter_ns()
                app.run("write", "get VER")
                through.append(time.perf_counter_ns() - start)
        os.close(fd)
    finally:
        sim.stdin.close()
        sim.wait(5)
    d, t = statistics.median(direct) / 1000, statistics.median(through) / 1000
    print("# board read from Python: direct p50 %.1f us, through the application p50 %.1f us" % (d, t))
    print("BENCH script_read_ratio %.2f x target <= 1.5" % (t / d))
    return 0


if __name__ == "__main__":
    sys.exit(main())
