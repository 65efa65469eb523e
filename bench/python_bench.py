#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The cost of each Python layer, and the software PWM's jitter, on the
simulated board. A benchmark: it prints figures and asserts nothing.

Toggles a second of pin 17 in --plain mode (the block as plain memory, as
tavrel_bench measures the C library) through ctypes calls of the C library,
through the tavrel module, and through gpiozero's LED.on()/off(); then runs
a PWMLED at 100 Hz, duty 0.5, for 3 s on the model and measures its
periods and pulse widths from the waveform.
Usage (build tree): PYTHONPATH=BUILD/python TAVREL_LIBRARY=BUILD/library/libtavrel.so.1
    TAVREL_SIM=BUILD/sim/tavrel-sim python3 bench/python_bench.py"""
import os
import statistics
import sys
import textwrap

from tavrel.testing import SimBoard

PYTHON = "/usr/bin/python3"

TOGGLES = textwrap.dedent("""
    import ctypes, os, time
    import tavrel
    from gpiozero import LED

    def rate(on, off):
        n, end = 0, time.monotonic() + 1.0
        while time.monotonic() < end:
            for _ in range(100):
                on(); off()
            n += 200
        return n

    tavrel.open()
    tavrel.config_io(17, tavrel.OUTPUT)
    lib = ctypes.CDLL(os.environ.get("TAVREL_LIBRARY") or "libtavrel.so.1")
    set_val = lib.tavrel_gpio_set_val
    print("ctypes", rate(lambda: set_val(17, 1), lambda: set_val(17, 0)))
    print("tavrel", rate(lambda: tavrel.set_val(17, 1), lambda: tavrel.set_val(17, 0)))
    tavrel.close()
    led = LED(17)
    print("gpiozero", rate(led.on, led.off))
""")

PWM = textwrap.dedent("""
    import time
    from gpiozero import PWMLED
    led = PWMLED(18, frequency=100)
    led.value = 0.5
    time.sleep(3)
""")


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p))]


def main():
    env = dict(os.environ, GPIOZERO_PIN_FACTORY="tavrel")
    with SimBoard() as board:
        app = board.start([PYTHON, "-c", TOGGLES], env, options=["--plain"])
        for line in app.stdout:
            name, count = line.split()
            print("%-9s %9d toggles/s" % (name, int(count)))
        app.wait()
    with SimBoard() as board:
        app = board.start([PYTHON, "-c", PWM], env)
        app.wait()
        history = board.history(18)
    rises = [t for (t, level), (_, before) in zip(history[1:], history) if level == 1 and before == 0]
    falls = [t for (t, level), (_, before) in zip(history[1:], history) if level == 0 and before == 1]
    rises = rises[10:-10]  # the start and the end apart
    periods = [(b - a) * 1e6 for a, b in zip(rises, rises[1:])]
    widths = []
    for r in rises:
        after = [f for f in falls if f > r]
        if after:
            widths.append((after[0] - r) * 1e6)
    for name, values, want in (("period", periods, 10000), ("pulse width", widths, 5000)):
        errors = [abs(v - want) for v in values]
        print("PWM %-11s %d samples: median %.0f us (want %d), |error| median %.0f us, p99 %.0f us, worst %.0f us"
              % (name, len(values), statistics.median(values), want, statistics.median(errors),
                 percentile(errors, 0.99), max(errors)))


if __name__ == "__main__":
    sys.exit(main())
