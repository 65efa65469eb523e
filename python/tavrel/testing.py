# SPDX-License-Identifier: MIT
"""Testing a program without a board: it runs unmodified under tavrel-sim
on a fresh simulated board, which the test drives and watches from outside.

    from tavrel.testing import SimBoard

    def test_button_lights_the_led():
        with SimBoard() as board:
            app = board.start(["python3", "app.py"])
            assert board.wait_for(17, function="output")
            board.drive(4, 0)                  # press
            assert board.wait_for(17, level=1)
            # For a program that watches the pin's edges through the GPIO
            # character device, first: assert board.wait_held(4)
            app.stop()
            assert app.returncode == 0

Needs tavrel-sim on the PATH, or its path in TAVREL_SIM.
"""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

__all__ = ["SimBoard", "Program"]


class Program:
    """A program running on the board; a subprocess.Popen's returncode,
    stdout and pid are there as well."""

    def __init__(self, popen):
        self.popen = popen

    @property
    def pid(self):
        return self.popen.pid

    @property
    def returncode(self):
        return self.popen.returncode

    @property
    def stdout(self):
        return self.popen.stdout

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Sends sig (SIGTERM) and waits for the end; its status."""
        if self.popen.poll() is None:
            self.popen.send_signal(sig)
        return self.wait(timeout)

    def wait(self, timeout=30):
        """Waits for the end; its status. Kills it and raises
        subprocess.TimeoutExpired after timeout seconds."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            self.popen.wait()
            raise


class SimBoard:
    """A fresh simulated board in a directory of its own, removed by close()
    or at the end of a with block."""

    def __init__(self, sim=None, soc=None):
        self.sim = sim or os.environ.get("TAVREL_SIM") or shutil.which("tavrel-sim")
        if not self.sim:
            raise FileNotFoundError("tavrel-sim is not on the PATH (or in TAVREL_SIM)")
        self._dir = tempfile.mkdtemp(prefix="tavrel-board-")
        self.path = os.path.join(self._dir, "board")
        self.vcd = os.path.join(self._dir, "pins.vcd")
        self._programs = []
        args = ["--reset"] + (["--soc", soc] if soc else [])
        self._cli(args + ["--", "true"])

    def _cli(self, args):
        return subprocess.run([self.sim, "--board", self.path] + args, check=True, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, universal_newlines=True).stdout

    def start(self, argv, env=None, options=()):
        """Starts argv on the board, its standard output on a pipe (text);
        its pins' history goes to a waveform read by history(). options are
        more of tavrel-sim's (["--plain"]: no model, so no history)."""
        record = [] if "--plain" in options else ["--vcd", self.vcd]
        popen = subprocess.Popen([self.sim, "--board", self.path] + record + list(options) + ["--"] + list(argv),
                                 env=env, stdout=subprocess.PIPE, universal_newlines=True)
        program = Program(popen)
        self._programs.append(program)
        return program

    def drive(self, pin, level):
        """Drives the pin to level 0 or 1 from outside, or lets it go
        (None): an input then reads its pull."""
        self._cli(["drive", "%d=%s" % (pin, "z" if level is None else int(bool(level)))])

    def release(self, pin):
        """Lets the pin go, as drive(pin, None)."""
        self.drive(pin, None)

    def pins(self):
        """Every pin as {pin: (function, level, pull)}."""
        table = {}
        for line in self._cli(["pins"]).splitlines()[1:]:
            fields = line.split()
            if len(fields) >= 4 and fields[0].isdigit():
                table[int(fields[0])] = (fields[1], int(fields[2]), fields[3])
        return table

    def level(self, pin):
        return self.pins()[pin][1]

    def function(self, pin):
        return self.pins()[pin][0]

    def wait_for(self, pin, level=None, function=None, timeout=10.0):
        """Waits until the pin has the level and/or the function; False
        when timeout seconds passed first."""
        deadline = time.monotonic() + timeout
        while True:
            f, lv, _ = self.pins()[pin]
            if (level is None or lv == level) and (function is None or f == function):
                return True
            if time.monotonic() >= deadline:
                return False
            time.sleep(0.005)

    def wait_held(self, pin, timeout=10.0):
        """Waits until a request of the GPIO character device (libgpiod, the
        pin factory's, EdgeEvents) holds the pin's line, in any program on
        the board: what to wait for before driving a pin another program
        watches for edges. False when timeout seconds passed first."""
        return self._wait(pin, "held", timeout)

    def wait_free(self, pin, timeout=10.0):
        """Waits until no request holds the pin's line; False when timeout
        seconds passed first."""
        return self._wait(pin, "free", timeout)

    def _wait(self, pin, state, timeout):
        ms = max(0, int(timeout * 1000 + 0.999999))
        done = subprocess.run([self.sim, "--board", self.path, "wait", str(pin), state, "--timeout", str(ms)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
        if done.returncode not in (0, 3):
            raise ValueError(done.stderr.strip())
        return done.returncode == 0

    def history(self, pin):
        """The pin's levels over the last program's run, once it ended:
        [(seconds from its start, level), ...], from the waveform."""
        with open(self.vcd) as f:
            text = f.read()
        ids = re.findall(r"\$var wire 1 (\S+) gpio%d \$end" % pin, text)
        if not ids:
            return []
        ident, now, changes = ids[0], 0, []
        for line in text.split("$enddefinitions $end", 1)[1].splitlines():
            if line.startswith("#"):
                now = int(line[1:])
            elif line[1:] == ident and line[:1] in "01":
                changes.append((now / 1e6, int(line[0])))
        return changes

    def close(self):
        for program in self._programs:
            if program.popen.poll() is None:
                program.popen.kill()
                program.popen.wait()
            if program.popen.stdout:
                program.popen.stdout.close()
        shutil.rmtree(self._dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
