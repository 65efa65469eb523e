# SPDX-License-Identifier: MIT
"""libtavrel from Python: BCM2835-family GPIO registers through /dev/gpiomem,
and edge events through the kernel's GPIO character device.

The functions are the C library's, called through ctypes, with Python's
conventions: failures raise OSError (or one of its subclasses) carrying the
errno, access opens and closes as a context manager, and edge events come as
an object that select, selectors and asyncio can wait on.

    import tavrel
    with tavrel.Access():
        tavrel.config_io(17, tavrel.OUTPUT)
        tavrel.set_val(17, 1)

The library is loaded as libtavrel.so.1, or from the path in the
environment variable TAVREL_LIBRARY.
"""
import collections
import ctypes
import errno
import operator
import os
import threading

__all__ = [
    "INPUT", "OUTPUT", "PULL_OFF", "PULL_DOWN", "PULL_UP", "EDGE_RISING", "EDGE_FALLING", "EDGE_BOTH",
    "Access", "open", "close", "config_io", "set_alt", "set_val", "get_val", "set_byte", "get_byte",
    "get_mode", "set_pull", "get_pull", "set_mask", "get_all", "start_quit_listener", "should_quit",
    "Version", "version", "version_str", "write_exact", "read_with_timeout", "EdgeEvent", "EdgeEvents",
    "pin_count", "chip", "MODE_ALT6", "MODE_ALT7", "MODE_ALT8", "MODE_NONE", "PULL_KEEP",
    "CHIP_BCM2835", "CHIP_BCM2711", "CHIP_BCM2712",
]

INPUT, OUTPUT = 0, 1
PULL_OFF, PULL_DOWN, PULL_UP = 0, 1, 2
EDGE_RISING, EDGE_FALLING, EDGE_BOTH = 1, 2, 3
# The Pi 5's RP1: get_mode's codes past the BCM2835's, get_pull's both
# pulls, and the chips chip() tells.
MODE_ALT6, MODE_ALT7, MODE_ALT8, MODE_NONE = 8, 9, 10, 11
PULL_KEEP = 3
CHIP_BCM2835, CHIP_BCM2711, CHIP_BCM2712 = 2835, 2711, 2712

_lib = None
_lib_lock = threading.Lock()


class _Version(ctypes.Structure):
    _fields_ = [("major", ctypes.c_int32), ("minor", ctypes.c_int32), ("letter", ctypes.c_char)]


class _Event(ctypes.Structure):
    _fields_ = [("timestamp_ns", ctypes.c_uint64), ("pin", ctypes.c_int32), ("edge", ctypes.c_int32),
                ("seqno", ctypes.c_uint32), ("pin_seqno", ctypes.c_uint32)]


_I32, _U32, _U64, _INT = ctypes.c_int32, ctypes.c_uint32, ctypes.c_uint64, ctypes.c_int
_SIGNATURES = {
    "tavrel_gpio_init": (_INT, []),
    "tavrel_gpio_init_noatexit": (_INT, []),
    "tavrel_gpio_deinit": (None, []),
    "tavrel_gpio_config_io": (None, [_I32, _I32]),
    "tavrel_gpio_set_alt": (None, [_I32, _I32]),
    "tavrel_gpio_set_val": (None, [_I32, _I32]),
    "tavrel_gpio_set_byte": (None, [_I32, _I32]),
    "tavrel_gpio_get_val": (_I32, [_I32]),
    "tavrel_gpio_get_byte": (_I32, [_I32]),
    "tavrel_gpio_get_mode": (_I32, [_I32]),
    "tavrel_gpio_set_pull": (None, [_I32, _I32]),
    "tavrel_gpio_get_pull": (_I32, [_I32]),
    "tavrel_gpio_set_mask": (None, [_U64, _U64]),
    "tavrel_gpio_get_all": (_U64, []),
    "tavrel_gpio_start_quit_listener": (_INT, []),
    "tavrel_gpio_should_quit": (_INT, []),
    "tavrel_get_version_str": (_INT, [ctypes.c_char_p, ctypes.c_size_t]),
    "tavrel_get_version": (_INT, [ctypes.POINTER(_Version)]),
    "tavrel_write_exact": (_INT, [_INT, ctypes.c_char_p, ctypes.c_size_t]),
    "tavrel_read_with_timeout": (_INT, [_INT, ctypes.c_char_p, ctypes.c_size_t, _INT]),
    "tavrel_gpio_edge_open": (_INT, [_U64, _I32, _U32]),
    "tavrel_gpio_edge_read": (_INT, [_INT, ctypes.POINTER(_Event), _I32, _I32]),
    "tavrel_gpio_edge_close": (_INT, [_INT]),
    "tavrel_gpio_pin_count": (_I32, []),
    "tavrel_gpio_chip": (_I32, []),
}

_DEVICE = "/dev/gpiomem"


def _library():
    """The loaded C library, its functions typed."""
    global _lib
    with _lib_lock:
        if _lib is None:
            lib = ctypes.CDLL(os.environ.get("TAVREL_LIBRARY") or "libtavrel.so.1", use_errno=True)
            for name, (restype, argtypes) in _SIGNATURES.items():
                fn = getattr(lib, name)
                fn.restype, fn.argtypes = restype, argtypes
            _lib = lib
        return _lib


def _raise_errno(default=errno.EIO, filename=None):
    err = ctypes.get_errno() or default
    raise OSError(err, os.strerror(err), filename)


# ---- Access ---------------------------------------------------------------

def open(at_exit=True):
    """Opens GPIO access (maps /dev/gpiomem). With at_exit, the library's
    exit handler puts back the pins' functions this process changed when
    the process ends. Raises OSError when the device cannot be opened."""
    lib = _library()
    ctypes.set_errno(0)
    if (lib.tavrel_gpio_init() if at_exit else lib.tavrel_gpio_init_noatexit()) != 0:
        _raise_errno(errno.ENODEV, _DEVICE)


def pin_count():
    """How many GPIOs the board's chip has: 54 on the BCM2835 and the Pi
    5's RP1, 58 on the Pi 4's BCM2711. Access need not be open. Raises OSError (ENODEV for a
    GPIO block of another design, or the error of /dev/gpiomem)."""
    ctypes.set_errno(0)
    count = _library().tavrel_gpio_pin_count()
    if count < 0:
        _raise_errno(errno.ENODEV, _DEVICE)
    return count


def chip():
    """The board's GPIO chip: CHIP_BCM2835, CHIP_BCM2711 or CHIP_BCM2712
    (the Pi 5's, whose GPIO is the RP1's). Access need not be open. Raises
    OSError as pin_count does."""
    ctypes.set_errno(0)
    found = _library().tavrel_gpio_chip()
    if found < 0:
        _raise_errno(errno.ENODEV, _DEVICE)
    return found


def close():
    """Closes access, putting back the functions of pins 0 to 29 this
    process changed. Does nothing when access is closed."""
    _library().tavrel_gpio_deinit()


class Access:
    """GPIO access for a with block: opened on entry, closed on exit."""

    def __init__(self, at_exit=True):
        self._at_exit = at_exit

    def __enter__(self):
        open(self._at_exit)
        return self

    def __exit__(self, *exc):
        close()
        return False


def _fits(value, bits, signed, what):
    """value as the C call takes it: a ValueError, before anything is done,
    for a number ctypes would wrap into another."""
    value = operator.index(value)
    low, high = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    if not low <= value <= high:
        raise ValueError("%s %r is outside %d to %d" % (what, value, low, high))
    return value


def _i32(value, what):
    return _fits(value, 32, True, what)


# ---- Pins -----------------------------------------------------------------
# While access is closed, or for a pin outside 0 to 59, the C library's
# setters do nothing and its getters return 0: so do these.

def config_io(pin, mode):
    """Makes the pin an input (INPUT) or an output (OUTPUT)."""
    _library().tavrel_gpio_config_io(_i32(pin, "pin"), _i32(mode, "mode"))


def set_alt(pin, alt):
    """Selects alternate function 0 to 5 for the pin."""
    _library().tavrel_gpio_set_alt(_i32(pin, "pin"), _i32(alt, "alt"))


def set_val(pin, value):
    """Drives an output pin high (true) or low (false)."""
    _library().tavrel_gpio_set_val(_i32(pin, "pin"), 1 if value else 0)


def get_val(pin):
    """The pin's level, 0 or 1."""
    return _library().tavrel_gpio_get_val(_i32(pin, "pin"))


def set_byte(first_pin, byte):
    """Drives pins first_pin to first_pin + 7 with the bits of byte."""
    _library().tavrel_gpio_set_byte(_i32(first_pin, "pin"), _i32(byte, "byte"))


def get_byte(first_pin):
    """The levels of pins first_pin to first_pin + 7 as a byte."""
    return _library().tavrel_gpio_get_byte(_i32(first_pin, "pin"))


def get_mode(pin):
    """The pin's function-select code: 0 input, 1 output, alt0 4, alt1 5,
    alt2 6, alt3 7, alt4 3, alt5 2, and on the Pi 5's RP1 MODE_ALT6 to
    MODE_ALT8 and MODE_NONE; -1 while access is closed."""
    return _library().tavrel_gpio_get_mode(_i32(pin, "pin"))


def set_pull(pin, pull):
    """Sets the pin's pull: PULL_OFF, PULL_DOWN or PULL_UP."""
    _library().tavrel_gpio_set_pull(_i32(pin, "pin"), _i32(pull, "pull"))


def get_pull(pin):
    """The pin's pull, on a chip that can read it back (the Pi 4's, the Pi
    5's, where PULL_KEEP is both pulls); raises OSError (ENOTSUP on the
    BCM2835) otherwise."""
    lib = _library()
    ctypes.set_errno(0)
    pull = lib.tavrel_gpio_get_pull(_i32(pin, "pin"))
    if pull < 0:
        _raise_errno(errno.EINVAL)
    return pull


def set_mask(pins, levels):
    """Drives the pins whose bits are set in pins (bit n: pin n) to the
    matching bits of levels, in one write a bank."""
    _library().tavrel_gpio_set_mask(_fits(pins, 64, False, "pins"), _fits(levels, 64, False, "levels"))


def get_all():
    """The levels of pins 0 to 53 as one integer, bit n for pin n."""
    return _library().tavrel_gpio_get_all()


def start_quit_listener():
    """Starts the library's quit listener (pins 24 to 27, SIGTERM, SIGINT).
    Raises OSError when access is closed or the thread cannot start."""
    rc = _library().tavrel_gpio_start_quit_listener()
    if rc == 1:
        raise OSError(errno.EBADF, "GPIO access is closed")
    if rc != 0:
        raise OSError(rc, os.strerror(rc))


def should_quit():
    """One sample of the quit pattern on pins 24 to 27."""
    return bool(_library().tavrel_gpio_should_quit())


# ---- Version file ---------------------------------------------------------

Version = collections.namedtuple("Version", "major minor letter")


def version_str():
    """The installation's version text, from /opt/tavrel/VERSION."""
    buf = ctypes.create_string_buffer(64)
    ctypes.set_errno(0)
    n = _library().tavrel_get_version_str(buf, len(buf))
    if n < 0:
        _raise_errno()
    return buf.value.decode("ascii")


def version():
    """The installation's version as Version(major, minor, letter)."""
    v = _Version()
    ctypes.set_errno(0)
    if _library().tavrel_get_version(ctypes.byref(v)) != 0:
        _raise_errno()
    return Version(v.major, v.minor, v.letter.decode("ascii"))


# ---- Descriptor I/O -------------------------------------------------------

def write_exact(fd, data):
    """Writes all of data (bytes) to the descriptor."""
    ctypes.set_errno(0)
    if _library().tavrel_write_exact(fd, bytes(data), len(data)) != 0:
        _raise_errno()


def read_with_timeout(fd, size, timeout_ms):
    """Reads exactly size bytes within timeout_ms milliseconds. Raises
    TimeoutError on time-out or end of file, OSError on failure."""
    fd, timeout_ms = _i32(fd, "fd"), _i32(timeout_ms, "timeout_ms")
    buf = ctypes.create_string_buffer(size)
    ctypes.set_errno(0)
    n = _library().tavrel_read_with_timeout(fd, buf, size, timeout_ms)
    if n < 0:
        if ctypes.get_errno() == 0:
            raise TimeoutError(errno.ETIMEDOUT, "no %d bytes within %d ms" % (size, timeout_ms))
        _raise_errno()
    return buf.raw[:n]


# ---- Edge events ----------------------------------------------------------

EdgeEvent = collections.namedtuple("EdgeEvent", "timestamp_ns pin edge seqno pin_seqno")
EdgeEvent.__doc__ = """One edge: when the kernel saw it (CLOCK_MONOTONIC, ns), the pin,
EDGE_RISING or EDGE_FALLING, its number across the request (a gap means
events were lost) and its number for the pin."""


class EdgeEvents:
    """Edges on pins, from the kernel: the pins are held as inputs until
    close() (or the end of a with block). fileno() lets select, selectors
    and asyncio wait for them; read() returns those waiting; iterating waits
    for each in turn. Raises OSError (EBUSY when another request holds a
    pin, ENOENT without a GPIO character device of the chip family)."""

    _BATCH = 16

    def __init__(self, pins, edges=EDGE_BOTH, debounce_us=0):
        mask, count = 0, pin_count()
        for pin in ([pins] if isinstance(pins, int) else pins):
            if not 0 <= operator.index(pin) < count:
                raise ValueError("pin %r is not 0 to %d" % (pin, count - 1))
            mask |= 1 << pin
        edges = _i32(edges, "edges")
        debounce_us = _fits(debounce_us, 32, False, "debounce_us")
        self._lib = _library()
        ctypes.set_errno(0)
        self._fd = self._lib.tavrel_gpio_edge_open(mask, edges, debounce_us)
        if self._fd < 0:
            _raise_errno()
        self._buf = (_Event * self._BATCH)()

    def fileno(self):
        """The descriptor, readable while events wait."""
        if self._fd < 0:
            raise ValueError("the edge events are closed")
        return self._fd

    @property
    def closed(self):
        return self._fd < 0

    def read(self, timeout=None, max_events=16):
        """Waits up to timeout seconds (None: no limit, 0: no wait) for an
        event and returns the list of those waiting, at most max_events;
        an empty list when the time ran out. A signal does not shorten the
        wait."""
        fd = self.fileno()
        ms = -1 if timeout is None else max(0, int(timeout * 1000 + 0.999999))
        ms = min(ms, 2**31 - 1)
        if operator.index(max_events) < 1:
            raise ValueError("max_events %r is not 1 or more" % (max_events,))
        max_events = min(max_events, self._BATCH)
        ctypes.set_errno(0)
        n = self._lib.tavrel_gpio_edge_read(fd, self._buf, max_events, ms)
        if n < 0:
            _raise_errno()
        return [EdgeEvent(e.timestamp_ns, e.pin, e.edge, e.seqno, e.pin_seqno) for e in self._buf[:n]]

    def __iter__(self):
        while True:
            yield from self.read()

    def close(self):
        """Releases the pins; they stay inputs. Closing twice does nothing."""
        fd, self._fd = self._fd, -1
        if fd >= 0 and self._lib.tavrel_gpio_edge_close(fd) != 0:
            _raise_errno()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass
