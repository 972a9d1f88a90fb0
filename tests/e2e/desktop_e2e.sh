#!/usr/bin/env bash
# The whole program on a real X server: pick the first line in the model dialog, connect to
# the simulator and start, click a key and the screen picture, and check what the simulator
# received and what the screen picture shows.
#   desktop_e2e.sh QVREMOTE QVSIM QVCTL
set -euo pipefail
qvremote=$1 qvsim=$2 qvctl=$3
for tool in Xvfb xdotool import compare convert; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qvremote-e2e.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  [[ -n ${DISPLAY:-} ]] && import -window root "$work/shot.png" 2>/dev/null || true
  echo "e2e: FAIL: $*"
  echo "--- simulator"; tail -n 20 "$work/sim.log" || true
  echo "--- program"; tail -n 40 "$work/app.log" || true
  [[ -f "$work/shot.png" ]] && cp "$work/shot.png" "${TMPDIR:-/tmp}/qvremote-e2e-fail.png" &&
    echo "e2e: last screenshot kept in ${TMPDIR:-/tmp}/qvremote-e2e-fail.png"
  exit 1
}
# Waits up to $1 tenths of a second for the command in the remaining arguments to succeed.
wait_for() {
  local tenths=$1; shift
  for ((i = 0; i < tenths; i++)); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

# The abstract socket only: no /tmp/.X11-unix left behind.
Xvfb -displayfd 3 -screen 0 1400x950x24 -nolisten tcp -nolisten unix 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 100 test -s "$work/display" || fail "the X server did not start"
export DISPLAY=":$(head -n 1 "$work/display")"

"$qvsim" --bind 127.0.0.1 --port 0 --size 800x600 >"$work/sim.log" 2>&1 &
pids+=($!)
wait_for 100 grep -q "listening on" "$work/sim.log" || fail "the simulator did not start"
port=$(sed -n 's/.*listening on .* port \([0-9]*\) .*/\1/p' "$work/sim.log")

printf '[Connection]\nMethod=1\nIP=127.0.0.1\n' >"$work/settings.ini"
mkdir -p "$work/tmp"
TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=xcb \
  "$qvremote" --settings "$work/settings.ini" --port "$port" --start >"$work/app.log" 2>&1 &
app=$!
pids+=("$app")

# The model dialog: Enter takes the preselected first line.
dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Select Model$' | head -n 1) ||
  fail "no model dialog"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key Return

panel=$(timeout 30 xdotool search --sync --onlyvisible --name '^QVRemote 2\.1$' | head -n 1) ||
  fail "no panel window"
echo "e2e: panel window $panel, simulator on port $port"

# The link reports itself with a "Connected" box; OK it as a user would.
box=$(timeout 20 xdotool search --sync --onlyvisible --name '^QVRemote$' | head -n 1) ||
  fail "no \"Connected\" box"
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return

# Remote control runs once the simulator serves screens.
streaming() { [[ $(grep -c "qvsim: request" "$work/sim.log") -ge 5 ]]; }
wait_for 300 streaming || fail "no screens were streamed"
sleep 1

eval "$(xdotool getwindowgeometry --shell "$panel")"
shoot() { import -window root "$work/shot.png"; }
# The screen picture sits at (41, 39), 800 x 600, in the panel's client area.
crop() { convert "$work/shot.png" -crop "800x600+$((X + 41))+$((Y + 39))" +repage "$1"; }

# 1. The picture shows the simulator's screen: close to the last frame the program received
#    (its frame file), far from an empty picture.
shoot
crop "$work/picture.png"
frame=$(ls -t "$work"/tmp/*.jpg 2>/dev/null | head -n 1)
[[ -n $frame ]] || fail "no frame file was written"
cp "$frame" "$work/direct.jpg"
convert -size 800x600 xc:black "$work/black.png"
rmse() { { compare -metric RMSE "$1" "$2" null: 2>&1 || true; } | sed 's/.*(\(.*\))/\1/'; }
near=$(rmse "$work/picture.png" "$work/direct.jpg")
far=$(rmse "$work/picture.png" "$work/black.png")
echo "e2e: picture against the simulator's screen RMSE $near, against black $far"
awk -v n="$near" -v f="$far" 'BEGIN { exit !(n < 0.12 && f > 0.05 && n < f) }' ||
  fail "the screen picture does not show the simulator's frame"

# 2. A real key: Enter on the numeric pad, centre of (1096, 669) 153 x 45.
enters() { grep -c "qvsim: command KEYP:ENTR" "$work/sim.log" || true; }
before=$(enters)
xdotool mousemove --window "$panel" 1172 691 click 1
entered() { [[ $(enters) -eq $((before + 1)) ]]; }
wait_for 50 entered || fail "Enter did not reach the instrument once"

# 3. A touch on the screen picture: client (441, 339) is instrument (400, 300).
xdotool mousemove --window "$panel" 441 339 click 1
wait_for 50 grep -q "qvsim: command KEYP 400,300" "$work/sim.log" ||
  fail "the touch did not reach the instrument"

# 4. Asked to end while streaming (as a desktop session does at logout), the program closes
#    its window, stops the link and exits cleanly within a few seconds.
kill -TERM "$app"
wait_for 100 bash -c "! kill -0 $app 2>/dev/null" || fail "the program did not end"
status=0
wait "$app" || status=$?
[[ $status -eq 0 ]] || fail "the program ended with status $status"
echo "e2e: PASS"
