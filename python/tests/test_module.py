# SPDX-License-Identifier: MIT
"""The tavrel module's own API on the simulated board: access as a context
manager, pins, errors as OSError with their errno, the edge-event object
with select and iteration, the version file, and the quit listener."""
import errno
import os
import textwrap

import pytest

from tavrel.testing import SimBoard

PYTHON = "/usr/bin/python3"


def run(tmp_path, body, board=None):
    path = tmp_path / "probe.py"
    path.write_text("import errno, os, select, tavrel\n" + textwrap.dedent(body))
    with (board or SimBoard()) as b:
        app = b.start([PYTHON, str(path)])
        out = app.stdout.read()
        assert app.wait() == 0, out
        return out.split("\n")[:-1], b


def test_access_pins_and_masks(tmp_path):
    out, _ = run(tmp_path, """
        with tavrel.Access():
            tavrel.config_io(17, tavrel.OUTPUT)
            tavrel.set_val(17, True)
            print(tavrel.get_mode(17), tavrel.get_val(17))
            tavrel.set_alt(18, 5)
            print(tavrel.get_mode(18))
            tavrel.set_byte(4, 0)
            tavrel.set_mask(1 << 17, 0)
            print(tavrel.get_all() >> 17 & 1)
        print(tavrel.get_mode(17))
    """)
    assert out == ["1 1", "2", "0", "-1"]


def test_errors_carry_their_errno(tmp_path):
    out, _ = run(tmp_path, """
        print("pins", tavrel.pin_count())
        tavrel.open()
        try:
            tavrel.get_pull(4)
        except OSError as e:
            print("get_pull", errno.errorcode[e.errno])
        try:
            tavrel.EdgeEvents([54])
        except ValueError:
            print("pin 54 ValueError")
        # Numbers ctypes would wrap are refused before anything is asked.
        for call in (lambda: tavrel.EdgeEvents(4, debounce_us=-1),
                     lambda: tavrel.EdgeEvents(4, debounce_us=1 << 32),
                     lambda: tavrel.set_val(1 << 32, 1), lambda: tavrel.config_io(4, 1 << 31),
                     lambda: tavrel.set_mask(-1, 0), lambda: tavrel.read_with_timeout(0, 1, 1 << 31)):
            try:
                call()
                print("accepted")
            except ValueError:
                pass
        with tavrel.EdgeEvents(53) as top:
            import time
            start = time.monotonic()
            if top.read(timeout=0.0005) == [] and time.monotonic() - start >= 0.00095:
                print("half a millisecond waits a whole one")
            try:
                top.read(timeout=0, max_events=0)
            except ValueError:
                print("pin 53 taken, max_events 0 ValueError")
        held = tavrel.EdgeEvents(4)
        try:
            tavrel.EdgeEvents([3, 4])
        except OSError as e:
            print("second request", errno.errorcode[e.errno])
        r, w = os.pipe()
        try:
            tavrel.read_with_timeout(r, 4, 20)
        except TimeoutError:
            print("read_with_timeout TimeoutError")
        try:
            tavrel.write_exact(-1, b"x")
        except OSError as e:
            print("write_exact", errno.errorcode[e.errno])
    """)
    assert out == ["pins 54", "get_pull ENOTSUP", "pin 54 ValueError", "half a millisecond waits a whole one",
                   "pin 53 taken, max_events 0 ValueError",
                   "second request EBUSY",
                   "read_with_timeout TimeoutError", "write_exact EBADF"]


def test_the_pi_4s_pins_54_to_57_are_watched_and_its_count_told(tmp_path):
    out, _ = run(tmp_path, """
        print(tavrel.pin_count())
        with tavrel.EdgeEvents([57]):
            print("57 watched")
        try:
            tavrel.EdgeEvents(58)
        except ValueError as e:
            print(e)
    """, SimBoard(soc="bcm2711"))
    assert out == ["58", "57 watched", "pin 58 is not 0 to 57"]


@pytest.mark.skipif(os.path.exists("/dev/gpiomem"), reason="this machine has a GPIO block")
def test_an_access_error_names_the_device():
    import tavrel
    with pytest.raises(OSError) as caught:
        tavrel.open()
    assert caught.value.filename == "/dev/gpiomem" and caught.value.errno == errno.ENOENT
    with pytest.raises(OSError) as caught:
        tavrel.pin_count()
    assert caught.value.filename == "/dev/gpiomem"


def test_edge_events_wait_with_select_and_iterate(tmp_path):
    board = SimBoard()
    path = tmp_path / "edges.py"
    path.write_text(textwrap.dedent("""
        import select, sys, tavrel
        with tavrel.EdgeEvents([5, 6], tavrel.EDGE_BOTH) as events:
            print("empty", events.read(timeout=0), select.select([events], [], [], 0)[0] == [], flush=True)
            ready = select.select([events], [], [], 10)[0]
            print("select", ready == [events], flush=True)
            for n, ev in enumerate(events):
                print(ev.pin, ev.edge, ev.seqno, ev.pin_seqno, ev.timestamp_ns > 0, flush=True)
                if n == 2:
                    break
        print("closed", events.closed)
    """))
    with board:
        app = board.start([PYTHON, str(path)])
        assert app.stdout.readline().split() == ["empty", "[]", "True"]
        board.drive(5, 1)
        board.drive(6, 1)
        board.drive(5, 0)
        assert app.stdout.read().split("\n")[:-1] == [
            "select True", "5 1 1 1 True", "6 1 2 1 True", "5 2 3 2 True", "closed True"]
        assert app.wait() == 0


def test_version_file_and_quit_listener_through_ctypes(tmp_path):
    (tmp_path / "VERSION").write_text("12.03C\n")
    (tmp_path / "BAD").write_text("1.2\n")
    path = tmp_path / "quit.py"
    path.write_text(textwrap.dedent("""
        import errno, os, sys, time, tavrel
        print(tavrel.version_str(), tuple(tavrel.version()))
        os.environ["TAVREL_SIM_VERSION"] = sys.argv[1]
        try:
            tavrel.version()
        except OSError as e:
            print("malformed", errno.errorcode[e.errno])
        try:
            tavrel.start_quit_listener()
        except OSError as e:
            print("listener while closed", errno.errorcode[e.errno])
        tavrel.open()
        tavrel.config_io(17, tavrel.OUTPUT)
        tavrel.start_quit_listener()
        print("listening", flush=True)
        time.sleep(60)
    """))
    env = dict(os.environ, TAVREL_SIM_VERSION=str(tmp_path / "VERSION"))
    with SimBoard() as board:
        app = board.start([PYTHON, str(path), str(tmp_path / "BAD")], env)
        assert [app.stdout.readline().strip() for _ in range(4)] == [
            "12.03C (12, 3, 'C')", "malformed EINVAL", "listener while closed EBADF", "listening"]
        assert board.function(17) == "output"
        # The listener's exit runs the library's exit handler under Python.
        assert app.stop() == 0
        assert board.function(17) == "input"
