# SPDX-License-Identifier: MIT
# Steps for apt-install.sh, after the host packages: a program built with
# pkg-config runs with no further step, and reads the version file; a
# gpiozero program finds the tavrel pin factory by its name, on a Pi Zero
# and on a Pi 5.
want=$(cat VERSION.expected)
cc app.c $(pkg-config --cflags --libs libtavrel) -o app
echo "built with: cc app.c \$(pkg-config --cflags --libs libtavrel)"
[ "$(cat /opt/tavrel/VERSION)" = "$want" ] || { echo "/opt/tavrel/VERSION is not $want"; exit 1; }
out=$(tavrel-sim --board /run/tavrel-in/board --reset -- ./app 2>&1) || {
    echo "$out"
    exit 1
}
echo "$out"
echo "$out" | grep -q "^version $want, " || exit 1
tavrel-sim --board /run/tavrel-in/board --changes -- tavrel-gpio_mode -p 18 -f 5 | grep -x "pin 18: input -> alt5"
man -w tavrel-sim
man -w tavrel-gpio_mode
cat >simtest.c <<'C'
#include <stdio.h>
#include <tavrel_simboard.h>
int main(void)
{
    char why[256];
    tavrel_simboard* b = tavrel_simboard_open("/run/tavrel-in/board", why, sizeof why);
    if (!b) return puts(why), 1;
    printf("pin 18 function %d\n", tavrel_simboard_function(b, 18));
    tavrel_simboard_close(b);
    return 0;
}
C
cc simtest.c $(pkg-config --cflags --libs tavrel-sim) -o simtest
./simtest | grep -x "pin 18 function 2"
cat >led.py <<'PY'
from gpiozero import LED, Device
led = LED(17)
led.on()
print(type(Device.pin_factory).__name__, led.value)
PY
out=$(GPIOZERO_PIN_FACTORY=tavrel tavrel-sim --board /run/tavrel-in/board -- /usr/bin/python3 led.py 2>&1)
echo "$out"
[ "$out" = "TavrelFactory 1" ]
# The same on a simulated Pi 5: the library on the RP1's window, the pin
# made an output from no function.
out=$(GPIOZERO_PIN_FACTORY=tavrel tavrel-sim --board /run/tavrel-in/board --soc bcm2712 --changes -- \
    /usr/bin/python3 led.py 2>&1)
echo "$out" | sed 's/$/ (a Pi 5)/'
echo "$out" | grep -qx "TavrelFactory 1"
echo "$out" | grep -Eq "^pin 17: none -> .*output"
