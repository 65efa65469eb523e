# SPDX-License-Identifier: MIT
"""gpiozero programs on the tavrel pin factory, run unmodified under
tavrel-sim and checked from the board: levels, functions and pulls as the
register model holds them, timing from its waveform."""
import os
import textwrap
import time

import pytest

from tavrel.testing import SimBoard

PYTHON = "/usr/bin/python3"  # Debian's, with python3-gpiozero


def program(tmp_path, body):
    path = tmp_path / "app.py"
    path.write_text("import sys, time\nfrom gpiozero import *\n" + textwrap.dedent(body))
    return [PYTHON, str(path)]


def env():
    e = dict(os.environ)
    e["GPIOZERO_PIN_FACTORY"] = "tavrel"
    return e


def lines_until(app, count):
    return [app.stdout.readline().strip() for _ in range(count)]


@pytest.fixture
def board():
    with SimBoard() as b:
        yield b


def test_the_factory_is_found_by_name_and_knows_the_simulated_pi_zero(board, tmp_path):
    app = board.start(program(tmp_path, """
        LED(17)  # gpiozero makes its factory with the first device
        print(Device.pin_factory.__class__.__name__, Device.pin_factory.pi_info.model)
        import tavrel
        pin = Device.pin_factory.pin(12)
        for function in ("alt4", "alt5", "alt0"):
            pin.function = function
            print(pin.function, tavrel.get_mode(12))
    """), env())
    assert app.stdout.readline().split() == ["TavrelFactory", "Zero"]
    # The alternate functions' own codes: alt4 is 3 and alt5 is 2.
    assert [app.stdout.readline().split() for _ in range(3)] == [["alt4", "3"], ["alt5", "2"], ["alt0", "4"]]
    assert app.wait() == 0


@pytest.mark.parametrize("revision, memory", [(0xD04170, 8192), (0xE04171, 16384)])
def test_a_pi_5_is_named_and_described_although_this_gpiozero_predates_it(board, tmp_path, revision, memory):
    app = board.start(program(tmp_path, f"""
        from tavrel.pinfactory import TavrelFactory
        from gpiozero.pins.data import pi_info
        TavrelFactory._get_revision = lambda self: {revision}
        Device.pin_factory = TavrelFactory()
        info = pi_info()
        print(info.model, info.soc, info.released, info.memory, info.usb, info.usb3, info.eth_speed,
              info.wifi, info.bluetooth, info.csi, info.dsi)
        print("%s:%d" % info.physical_pin("GPIO17"), info.pulled_up("GPIO2"), info.headers["J8"].rows)
        led = LED(17)
        led.on()
        print(led.value)
    """), env())
    assert app.stdout.readline().split() == ["5B", "BCM2712", "2023Q4", str(memory), "4", "2", "1000", "True", "True",
                                             "2", "2"]
    assert app.stdout.readline().split() == ["J8:11", "True", "20"]
    assert app.stdout.readline().split() == ["1"]
    assert app.wait() == 0


def test_gpiozero_drives_a_simulated_pi_5_through_the_rp1(tmp_path):
    with SimBoard(soc="bcm2712") as pi5:
        app = pi5.start(program(tmp_path, """
            import tavrel
            led, button = LED(17), Button(22)
            info = Device.pin_factory.pi_info
            print(info.model, info.soc, tavrel.chip(), tavrel.pin_count())
            led.on()
            print(led.pin.function, button.pin.function, button.pin.pull, tavrel.get_pull(22) == tavrel.PULL_UP)
            sys.stdout.flush()
            button.wait_for_press(10)
            print("pressed", button.is_pressed, tavrel.get_mode(40) == tavrel.MODE_NONE)
        """), env())
        assert app.stdout.readline().split() == ["5B", "BCM2712", "2712", "54"]
        assert app.stdout.readline().split() == ["output", "input", "up", "True"]
        pins = pi5.pins()
        assert pins[17][:2] == ("output", 1) and pins[22][0] == "input" and pins[22][2] == "up", pins
        pi5.drive(22, 0)
        assert app.stdout.readline().split() == ["pressed", "True", "True"]
        assert app.wait() == 0


def test_a_board_this_gpiozero_knows_is_left_as_it_says(board, tmp_path):
    app = board.start(program(tmp_path, """
        from tavrel.pinfactory import TavrelFactory
        TavrelFactory._get_revision = lambda self: 0xC03111
        Device.pin_factory = TavrelFactory()
        info = Device.pin_factory.pi_info
        print(info.model, info.soc, info.usb3, info.csi)
    """), env())
    assert app.stdout.readline().split() == ["4B", "BCM2711", "2", "1"]
    assert app.wait() == 0


def test_led_on_off_and_blink_as_the_board_sees_them(board, tmp_path):
    app = board.start(program(tmp_path, """
        led = LED(17)
        led.on(); time.sleep(0.05); led.off(); time.sleep(0.05)
        led.blink(on_time=0.1, off_time=0.1, n=3, background=False)
    """), env())
    assert app.wait() == 0
    history = board.history(17)
    levels = [level for _, level in history]
    assert levels == [0, 1, 0, 1, 0, 1, 0, 1, 0], history
    times = [t for t, _ in history]
    blinks = [times[i + 1] - times[i] for i in range(3, 8)]
    # Only a lower bound: a loaded machine may sleep longer, never shorter.
    assert all(d >= 0.099 for d in blinks), blinks
    assert board.function(17) == "input", "the factory's close puts the pin back"


def test_button_callbacks_from_live_presses_and_the_pull_up(board, tmp_path):
    app = board.start(program(tmp_path, """
        b = Button(4)
        b.when_pressed = lambda: print("pressed", flush=True)
        b.when_released = lambda: print("released", flush=True)
        print("ready", flush=True)
        time.sleep(60)
    """), env())
    assert app.stdout.readline().strip() == "ready"
    assert board.pins()[4][2] == "up"
    board.drive(4, 0)
    assert app.stdout.readline().strip() == "pressed"
    board.release(4)
    assert app.stdout.readline().strip() == "released"
    app.stop()


@pytest.mark.parametrize("bounce, presses", [(None, 3), (2.0, 1)])
def test_a_bouncing_press_counts_once_with_bounce_time(board, tmp_path, bounce, presses):
    app = board.start(program(tmp_path, """
        b = Button(4, bounce_time=%r)
        b.when_pressed = lambda: print("pressed", flush=True)
        print("ready", flush=True)
        time.sleep(60)
    """ % (bounce,)), env())
    assert app.stdout.readline().strip() == "ready"
    for level in (0, 1, 0, 1):
        board.drive(4, level)
    settled = time.monotonic()  # at or before the last change
    board.drive(4, 0)
    # Waits for the presses themselves, so a slow machine only makes it
    # slower; a debounced press cannot come before the period has passed.
    assert lines_until(app, presses) == ["pressed"] * presses
    if bounce:
        assert time.monotonic() - settled >= bounce
    time.sleep(0.3)
    app.stop()
    assert "pressed" not in app.stdout.read().split()


def test_a_closed_pin_serves_again_and_edges_changed_while_watching_re_make_the_request(board, tmp_path):
    app = board.start(program(tmp_path, """
        led = LED(4)
        pin = led.pin
        led.close()  # gpiozero keeps the pin, to hand it to the next device on 4
        pin.function = "input"
        pin.pull = "down"
        def changed(ticks, state):  # gpiozero holds callbacks weakly
            print("changed", state, flush=True)
        pin.when_changed = changed
        pin.edges = "falling"  # the watcher stops, the request is made again, the watcher starts
        print("ready", flush=True)
        time.sleep(60)
    """), env())
    assert app.stdout.readline().strip() == "ready"
    for level in (1, 0, 1, 0):
        board.drive(4, level)
    assert lines_until(app, 2) == ["changed False", "changed False"]
    app.stop()


def test_watching_turned_off_and_on_inside_its_callback_leaves_one_watcher(board, tmp_path):
    app = board.start(program(tmp_path, """
        import threading
        button = Button(5, pull_up=False)  # kept: a closed button closes its pin
        pin = button.pin
        calls = []
        def changed(ticks, state):
            calls.append(state)
            if len(calls) == 1:
                pin.when_changed = None
                pin.when_changed = changed
            print("changed", state, flush=True)
        pin.when_changed = changed
        print("ready", flush=True)
        while len(calls) < 3:
            time.sleep(0.01)
        time.sleep(0.2)  # an old watcher's read would time out within 0.05 s
        print(len([t for t in threading.enumerate() if t.name.startswith("tavrel-")]), flush=True)
        pin.when_changed = None
        print("closed", flush=True)
    """), env())
    assert app.stdout.readline().strip() == "ready"
    assert board.wait_held(5)
    # The next edge once the callback is done: re-enabling discards edges from before.
    for level, state in ((1, "True"), (0, "False"), (1, "True")):
        board.drive(5, level)
        assert lines_until(app, 1) == ["changed " + state]
    assert lines_until(app, 2) == ["1", "closed"]
    assert app.wait() == 0
    assert board.wait_free(5, timeout=5) and not board.wait_held(5, timeout=0.01)


def test_pull_up_false_pulls_down_and_wait_for_press_times_out(board, tmp_path):
    app = board.start(program(tmp_path, """
        b = Button(4, pull_up=False)
        start = time.monotonic()
        pressed = b.wait_for_press(timeout=0.3)
        print(pressed, time.monotonic() - start >= 0.3, flush=True)
        time.sleep(60)
    """), env())
    assert app.stdout.readline().split() == ["False", "True"]
    assert board.pins()[4][2] == "down"
    app.stop()


def test_pwmled_duty_cycle_on_the_board(board, tmp_path):
    app = board.start(program(tmp_path, """
        led = PWMLED(18, frequency=50)
        led.value = 0.25
        time.sleep(1.0)
    """), env())
    assert app.wait() == 0
    history = board.history(18)
    times = [t for t, _ in history]
    levels = [level for _, level in history]
    # Whole periods in the middle of the run: high time over total.
    rises = [times[i] for i in range(1, len(levels)) if levels[i] == 1 and levels[i - 1] == 0]
    assert len(rises) >= 20, history
    high = sum(times[i + 1] - times[i] for i in range(len(levels) - 1)
               if levels[i] == 1 and rises[5] <= times[i] < rises[-5])
    duty = high / (rises[-5] - rises[5])
    assert 0.15 < duty < 0.35, duty


def test_ledboard_drives_its_pins_together(board, tmp_path):
    app = board.start(program(tmp_path, """
        leds = LEDBoard(5, 6, 13)
        leds.value = (1, 0, 1)
        print("set", flush=True)
        time.sleep(60)
    """), env())
    assert app.stdout.readline().strip() == "set"
    pins = board.pins()
    assert [pins[p][:2] for p in (5, 6, 13)] == [("output", 1), ("output", 0), ("output", 1)]
    app.stop()


def test_a_second_program_asking_for_a_held_pin_gets_gpiozeros_error(board, tmp_path):
    first = board.start(program(tmp_path, """
        b = Button(4)
        print("holding", flush=True)
        time.sleep(60)
    """), env())
    assert first.stdout.readline().strip() == "holding"
    second_path = tmp_path / "second.py"
    second_path.write_text("from gpiozero import *\ntry:\n    Button(4)\nexcept GPIOPinInUse as e:\n"
                           "    print('GPIOPinInUse', e)\n")
    second = board.start([PYTHON, str(second_path)], env())
    out = second.stdout.read()
    assert second.wait() == 0
    assert out.startswith("GPIOPinInUse pin GPIO4 is held by another program"), out
    first.stop()
