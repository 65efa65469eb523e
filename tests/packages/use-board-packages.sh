# SPDX-License-Identifier: MIT
# Steps for apt-install.sh, after the board's packages on a root that has
# no simulator for them (Debian 13 armhf, run under qemu-user): a program
# built there with pkg-config, the tools and Python's module all load the
# installed library, read its version file, and say plainly that this
# machine has no GPIO block.
want=$(cat VERSION.expected)
version=$(pkg-config --modversion libtavrel)
cc app.c $(pkg-config --cflags --libs libtavrel) -o app
echo "built with: cc app.c \$(pkg-config --cflags --libs libtavrel)"
[ "$(cat /opt/tavrel/VERSION)" = "$want" ] || { echo "/opt/tavrel/VERSION is not $want"; exit 1; }
tavrel-gpio_state --version | grep -x "tavrel-gpio_state $version"
out=$(tavrel-gpio_state -p 4 2>&1) && exit 1
echo "$out"
echo "$out" | grep -q "/dev/gpiomem: No such file or directory (on a machine that is not a Raspberry Pi, run" || exit 1
./app && exit 1
out=$(python3 -c 'import tavrel; print(tavrel.version_str())')
echo "python3 -c 'import tavrel; print(tavrel.version_str())': $out"
[ "$out" = "$want" ]
man -w tavrel-gpio_mode
