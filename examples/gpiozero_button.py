#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The button example in gpiozero: the LED on pin 17 is lit while the button
between pin 4 and ground is pressed. Run it on libtavrel with
GPIOZERO_PIN_FACTORY=tavrel; it waits for edges from the kernel, and
gpiozero puts the pins back when Ctrl-C or SIGTERM ends it."""
import signal
import sys

from gpiozero import LED, Button

led = LED(17)
button = Button(4, bounce_time=0.01)
button.when_pressed = led.on
button.when_released = led.off
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
print("press the button on pin 4; quit with Ctrl-C", flush=True)
try:
    signal.pause()
except KeyboardInterrupt:
    pass
