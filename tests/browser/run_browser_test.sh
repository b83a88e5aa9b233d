#!/bin/sh
# Runs the page's browser test: installs the pinned driver, then drives Debian's chromium.
#   run_browser_test.sh <folder with package.json and the test> <ptzcam-sim> <screenshot.png>
# Exit 77 (skipped) only when chromium or node is absent; tools/setup.sh installs both.
set -eu
work=$1 sim=$2 screenshot=$3

[ -x /usr/bin/chromium ] || { echo "SKIP: /usr/bin/chromium is not installed (tools/setup.sh installs it)"; exit 77; }
command -v node >/dev/null || { echo "SKIP: node is not installed (tools/setup.sh installs it)"; exit 77; }

cd "$work"
if ! cmp -s package-lock.json node_modules/.installed-lock 2>/dev/null; then
    npm ci --no-audit --no-fund --ignore-scripts >/dev/null
    cp package-lock.json node_modules/.installed-lock
fi

# As root, the camera gets a network of its own (its VISCA ports are fixed, and other tests
# run virtual cameras at the same time); the browser joins it there.
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && command -v ip >/dev/null; then
    exec unshare --net sh -c 'ip link set lo up && exec node "$0" "$1" "$2"' dashboard_test.mjs "$sim" "$screenshot"
fi
exec node dashboard_test.mjs "$sim" "$screenshot"
