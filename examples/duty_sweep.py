#!/usr/bin/env python3
"""Sweeps the duty cycle of PWM generator 1 from 0 to 100 % in 10 % steps.

Motor 1 runs forward on half-bridges 1 and 3, its high side following
PWM1. After each step the motor current (Isen1) is read; the table is
printed and written as CSV. The motor is stopped at the end, also after an
error.

    duty_sweep.py                      the running application, board connected
    duty_sweep.py --pipe NAME          ... serving another socket name
    duty_sweep.py --simulated          a simulated board of its own
    duty_sweep.py --csv sweep.csv      where the table goes (duty_sweep.csv)
"""

import argparse
import csv
import os
import sys
import time

try:
    import hql3318
except ImportError:
    # Run from the source tree without installing the package.
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
    import hql3318


def sweep(app, settle):
    """(duty in %, Isen1 in A) for 0, 10, ... 100 % duty."""
    board = app.Board
    rows = []
    board.setActive()
    board.setForward1()
    try:
        for duty in range(0, 101, 10):
            board["PWM1_DUTY"] = float(duty)
            time.sleep(settle)
            if not board.getADC1():
                raise RuntimeError("the board did not answer the current reading at %d %%" % duty)
            rows.append((duty, board["ADC_Result1"]))
    finally:
        board.setStop1()
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--pipe", help="socket name or path of the running application")
    where.add_argument("--simulated", action="store_true", help="start the application with a simulated board")
    parser.add_argument("--csv", default="duty_sweep.csv", help="CSV file to write (default: %(default)s)")
    parser.add_argument("--settle", type=float, default=0.05, help="seconds to wait after each step")
    args = parser.parse_args()

    try:
        if args.simulated:
            with hql3318.simulated() as app:
                rows = sweep(app, args.settle)
        else:
            with hql3318.Client(args.pipe) as app:
                rows = sweep(app, args.settle)
    except hql3318.NotRunning as e:
        sys.exit("duty_sweep: %s (start the application, or use --simulated)" % e)
    except hql3318.CommandError as e:
        sys.exit("duty_sweep: %s (is a board connected?)" % e)

    print("duty [%]  Isen1 [A]")
    for duty, current in rows:
        print("%8d  %9.3f" % (duty, current))
    with open(args.csv, "w", newline="") as f:
        out = csv.writer(f)
        out.writerow(["duty [%]", "Isen1 [A]"])
        out.writerows(rows)
    print("written to %s" % args.csv)


if __name__ == "__main__":
    main()
