# SPDX-License-Identifier: MIT
"""A test of gpiozero_button.py, as a user writes one for their own
program: it runs unmodified under tavrel-sim on a fresh board, the test
presses the button from outside and checks that the LED follows."""
import os
import signal

from tavrel.testing import SimBoard

HERE = os.path.dirname(os.path.abspath(__file__))


def test_the_led_follows_the_button():
    with SimBoard() as board:
        env = dict(os.environ, GPIOZERO_PIN_FACTORY="tavrel")
        app = board.start(["/usr/bin/python3", os.path.join(HERE, "gpiozero_button.py")], env)
        assert app.stdout.readline().startswith("press the button")
        assert board.wait_for(17, function="output", level=0)
        board.drive(4, 0)  # press: the button pulls pin 4 low
        assert board.wait_for(17, level=1)
        board.release(4)  # the pull-up takes it back
        assert board.wait_for(17, level=0)
        assert app.stop(signal.SIGTERM) == 0
        assert board.function(17) == "input", "gpiozero put the LED's pin back"
