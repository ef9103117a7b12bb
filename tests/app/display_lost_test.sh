#!/usr/bin/env bash
# Starts the real program on an X server of its own, types a login into the
# window, then kills the X server: the program must end and the typed login
# must be in the settings file, as a close would have left it.
set -euo pipefail
program=$1
dir=$(mktemp -d)
cleanup() { kill "${app:-}" "${wm:-}" "${xserver:-}" 2>/dev/null || true; rm -rf "$dir"; }
trap cleanup EXIT
cd "$dir"
fail() { echo "display_lost: FAILED: $*"; exit 1; }
wait_for() {  # wait_for SECONDS COMMAND...: polls COMMAND until it succeeds
    local limit=$1; shift
    for _ in $(seq $((limit * 20))); do "$@" && return 0; sleep 0.05; done
    return 1
}

# A free display: the server picks its number and writes it on descriptor 3.
exec 3>"$dir/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 & xserver=$!
has_display() { [ -s "$dir/display" ]; }
wait_for 10 has_display || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$dir/display")"
openbox >/dev/null 2>&1 & wm=$!
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_for 10 wm_up || fail "openbox did not start"
QT_QPA_PLATFORM=xcb "$program" >"$dir/log" 2>&1 & app=$!
main_window() { xdotool search --onlyvisible --name '^Kestrome$' 2>/dev/null | head -n1; }
window_shown() { [ -n "$(main_window)" ]; }
wait_for 10 window_shown || fail "the window did not appear: $(cat "$dir/log")"
wait_for 5 grep -q '^ConnectRetryInterval=' kestrome.cfg || fail "no settings file"
window=$(main_window)
xdotool windowactivate --sync "$window"
active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ]; }
wait_for 5 active || fail "the window could not be activated"
xdotool type --window "$window" --delay 20 "typedlogin"
# The keys are in the program's queue once typed; it is given a moment to
# take them before its display goes.
sleep 0.5
grep -qx 'Login=' kestrome.cfg || fail "the login was saved before the display went"

kill -KILL "$xserver"
ended() { ! kill -0 "$app" 2>/dev/null; }
wait_for 10 ended || fail "the program outlived its display by 10 s"
app=""
grep -qx 'Login=typedlogin' kestrome.cfg ||
    fail "the typed login was lost: $(grep Login kestrome.cfg); log: $(cat "$dir/log")"
[ "$(stat -c %a kestrome.cfg)" = 600 ] || fail "the settings file is no longer mode 600"
echo "display_lost: the login typed was saved when the display went away"
