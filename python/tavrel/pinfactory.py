# SPDX-License-Identifier: MIT
"""A gpiozero pin factory on libtavrel: GPIOZERO_PIN_FACTORY=tavrel.

Pins are driven and read through the registers; each pin the program uses
is also held through the kernel's GPIO character device, so that a second
program asking for it gets gpiozero's GPIOPinInUse, and its edges (with the
kernel's debounce for bounce) drive when_changed from a thread of the pin.
PWM is done in software by a thread of the pin. Written to gpiozero's pin
API as 1.6 and 2.0 have it.
"""
import errno
import threading
import time

from gpiozero.exc import (GPIOPinInUse, PinFixedPull, PinInvalidBounce, PinInvalidFunction, PinInvalidPull,
                          PinInvalidState, PinPWMFixedValue, PinSetInput)
from gpiozero.pins.local import LocalPiFactory, LocalPiPin, get_pi_revision

import tavrel

_FUNCTIONS = {"input": 0, "output": 1, "alt0": 4, "alt1": 5, "alt2": 6, "alt3": 7, "alt4": 3, "alt5": 2}
# And what the Pi 5's RP1 reads back beyond the BCM2835's codes.
_FUNCTION_NAMES = {code: name for name, code in _FUNCTIONS.items()}
_FUNCTION_NAMES.update({tavrel.MODE_ALT6: "alt6", tavrel.MODE_ALT7: "alt7", tavrel.MODE_ALT8: "alt8",
                        tavrel.MODE_NONE: "none"})
_PULLS = {"floating": tavrel.PULL_OFF, "down": tavrel.PULL_DOWN, "up": tavrel.PULL_UP}
_EDGES = {"both": tavrel.EDGE_BOTH, "rising": tavrel.EDGE_RISING, "falling": tavrel.EDGE_FALLING}

# The Pi 5 in a new-style revision code (type 0x17, processor 4), for a
# gpiozero that predates it (Debian's 1.6.2, in Debian 12 and 13): what
# gpiozero 2.0 says of it. Its 40-pin header is the one 1.6.2 already
# gives an unknown board, so pin names and pinout's header are right.
_PI5_TYPE = 0x17
_PI5 = dict(model="5B", soc="BCM2712", released="2023Q4", storage="MicroSD", usb=4, usb3=2, ethernet=1, eth_speed=1000,
            wifi=True, bluetooth=True, csi=2, dsi=2)
_MEMORY_16GB = 6  # the memory field's code past 1.6.2's table


def _known_board(info):
    """`info` as gpiozero made it, with the Pi 5's details where this
    gpiozero did not know the board."""
    revision = int(info.revision, 16)
    if info.model != "???" or not revision & 0x800000 or (revision >> 4) & 0xFF != _PI5_TYPE:
        return info
    memory = 16384 if (revision >> 20) & 7 == _MEMORY_16GB else info.memory
    return info._replace(memory=memory, **_PI5)


class TavrelFactory(LocalPiFactory):
    """Pins of the local Pi through libtavrel. Opens GPIO access; its
    close (at gpiozero's exit) closes it, putting the pins' functions back."""

    def __init__(self):
        super().__init__()
        tavrel.open(at_exit=True)
        self.pin_class = TavrelPin

    def close(self):
        super().close()
        tavrel.close()

    def _get_revision(self):
        return get_pi_revision()

    def _get_pi_info(self):  # gpiozero 1.6; 2.0 knows the Pi 5 itself
        if self._info is None:
            self._info = _known_board(super()._get_pi_info())
        return self._info


class TavrelPin(LocalPiPin):
    """One pin of :class:`TavrelFactory`."""

    def __init__(self, factory, pin):
        # A GPIO number from gpiozero 1.6, the pin's information from 2.0;
        # either way the base class sets self._number.
        super().__init__(factory, pin)
        self._pull = "floating"
        self._bounce = None
        self._edges = "both"
        self._events = None
        self._watcher = None
        self._stop = threading.Event()
        self._pwm = None
        self._claim()
        self.function = "input"
        self.pull = "up" if self._pulled_up() else "floating"

    def _pulled_up(self):
        """Whether the board has a physical pull-up on the pin (GPIO2 and 3):
        gpiozero 2.0 says so in the pin's information, 1.6 in pi_info."""
        info = getattr(self, "_info", None)
        if info is not None and hasattr(info, "pull"):
            return info.pull == "up"
        return self._factory.pi_info.pulled_up(repr(self))

    # The kernel's hold on the pin, re-made for new edges or debounce.
    def _claim(self):
        if self._events is not None:
            self._events.close()
            self._events = None
        debounce = int(round((self._bounce or 0) * 1000000))
        try:
            self._events = tavrel.EdgeEvents(self._number, _EDGES[self._edges], debounce)
        except OSError as e:
            if e.errno == errno.EBUSY:
                raise GPIOPinInUse("pin %r is held by another program" % self) from e
            raise

    def close(self):
        self.frequency = None
        self.when_changed = None
        self.function = "input"
        if self._events is not None:
            self._events.close()
            self._events = None

    def _get_function(self):
        return _FUNCTION_NAMES.get(tavrel.get_mode(self._number), "input")

    def _set_function(self, value):
        if value not in _FUNCTIONS:
            raise PinInvalidFunction('invalid function "%s" for pin %r' % (value, self))
        if self._events is None:  # closed, and now given to a new device: gpiozero keeps its pins
            self._claim()
        if value != "output":
            self.frequency = None
        code = _FUNCTIONS[value]
        if code <= 1:
            tavrel.config_io(self._number, code)
        else:
            tavrel.set_alt(self._number, int(value[3:]))

    def _get_state(self):
        if self._pwm:
            return self._pwm.duty
        return bool(tavrel.get_val(self._number))

    def _set_state(self, value):
        if self._pwm:
            if not 0 <= value <= 1:
                raise PinInvalidState('invalid state "%s" for pin %r' % (value, self))
            self._pwm.duty = value
        elif self.function != "output":
            raise PinSetInput("cannot set state of pin %r" % self)
        else:
            tavrel.set_val(self._number, bool(value))

    def _get_pull(self):
        return self._pull

    def _set_pull(self, value):
        if self.function != "input":
            raise PinFixedPull("cannot set pull on non-input pin %r" % self)
        if value != "up" and self._pulled_up():
            raise PinFixedPull("%r has a physical pull-up resistor" % self)
        if value not in _PULLS:
            raise PinInvalidPull('invalid pull "%s" for pin %r' % (value, self))
        tavrel.set_pull(self._number, _PULLS[value])
        self._pull = value

    def _get_frequency(self):
        return self._pwm.frequency if self._pwm else None

    def _set_frequency(self, value):
        if value is not None and value > 0:
            if self._pwm:
                self._pwm.frequency = value
            elif self.function != "output":
                raise PinPWMFixedValue("cannot start PWM on pin %r" % self)
            else:
                self._pwm = SoftwarePWM(self._number, value)
        elif self._pwm:
            self._pwm.stop()
            self._pwm = None

    def _get_bounce(self):
        return self._bounce

    def _set_bounce(self, value):
        if value is not None and value < 0:
            raise PinInvalidBounce("bounce must be 0 or greater")
        self._bounce = value or None
        self._reclaim()

    def _get_edges(self):
        return self._edges

    def _set_edges(self, value):
        if value not in _EDGES:
            raise PinInvalidFunction('invalid edges "%s" for pin %r' % (value, self))
        self._edges = value
        self._reclaim()

    def _reclaim(self):
        watching = self._watcher is not None
        if watching:
            self._disable_event_detect()
        self._claim()
        if watching:
            self._enable_event_detect()

    def _enable_event_detect(self):
        # Edges from before, the pin's own driving among them, are not news.
        while self._events.read(timeout=0):
            pass
        # A stop of its own: a watcher turned off inside its own callback
        # ends when the callback returns, even if it was turned on again.
        self._stop = threading.Event()
        self._watcher = threading.Thread(target=self._watch, args=(self._stop,), name="tavrel-%s" % self,
                                         daemon=True)
        self._watcher.start()

    def _disable_event_detect(self):
        if self._watcher is not None:
            self._stop.set()
            if self._watcher is not threading.current_thread():
                self._watcher.join()
            self._watcher = None

    def _watch(self, stop):
        events = self._events
        while not stop.is_set():
            for ev in events.read(timeout=0.05):
                if stop.is_set():
                    return
                self._call_when_changed(ev.timestamp_ns / 1e9, ev.edge == tavrel.EDGE_RISING)


class SoftwarePWM:
    """A thread that drives a pin high for duty of each period, with
    deadlines on the monotonic clock so that delays do not accumulate."""

    def __init__(self, pin, frequency):
        self.pin = pin
        self.frequency = frequency
        self.duty = 0.0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name="tavrel-pwm-%d" % pin, daemon=True)
        self._thread.start()

    def _run(self):
        start = time.monotonic()
        while not self._stop.is_set():
            period = 1.0 / self.frequency
            duty = self.duty
            if duty > 0:
                tavrel.set_val(self.pin, 1)
            if 0 < duty < 1:
                self._sleep_until(start + duty * period)
                tavrel.set_val(self.pin, 0)
            elif duty <= 0:
                tavrel.set_val(self.pin, 0)
            start += period
            now = time.monotonic()
            if start < now - period:  # fell a period behind: start again from now
                start = now
            self._sleep_until(start)

    def _sleep_until(self, deadline):
        left = deadline - time.monotonic()
        if left > 0:
            self._stop.wait(left)

    def stop(self):
        self._stop.set()
        self._thread.join()
        tavrel.set_val(self.pin, 0)
