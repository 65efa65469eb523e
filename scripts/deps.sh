# SPDX-License-Identifier: MIT
# Sourced by the other scripts: installs the Debian packages named in
# "$@" that are missing, when running as root; otherwise says what to do.
install_missing() {
    missing=""
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing="$missing $pkg"
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages:$missing (run this script as root, or: sudo apt-get install$missing)" >&2
        return 1
    fi
    echo "installing:$missing"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}
