# SPDX-License-Identifier: MIT
# Steps for apt-install.sh, after the tavrel-pizero package: the installed
# command boots the release it holds and runs its tool there.
out=$(tavrel-pizero run /usr/lib/tavrel-pizero/root/usr/bin/tavrel-gpio_mode -p 18 -f 5 2>&1) || {
    echo "$out"
    exit 1
}
echo "$out" | head -n 2
echo "$out" | grep -qx "Set pin 18 to alternative-function 5" || exit 1
echo "$out" | grep -qx "GPIO 18: alt5 lo pull unknown" || exit 1
man -w tavrel-pizero
