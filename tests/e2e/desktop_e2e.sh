#!/usr/bin/env bash
# The whole program on a real X server, as a new user meets it: an empty home, no settings
# file. Everything is reached through the program's own dialogs and menus:
#   Select Model -> right-click -> Communication -> TCP/IP (IPv4 or IPv6) -> typed address ->
#   OK -> Connect -> OK -> Start -> frames, a key and a touch reach the simulator ->
#   Share in browser -> View only -> the page answers (soft-key panel over IPv4);
#   then the program ends (SIGTERM) and starts again, and Connect alone connects.
# Run for the soft-key panel over IPv4 and IPv6 and for the hard-key panel.
#   desktop_e2e.sh QVREMOTE QVSIM QVCTL
set -euo pipefail
qvremote=$1 qvsim=$2
for tool in Xvfb xdotool import compare convert curl ss; do
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
  echo "e2e: FAIL ($flow): $*"
  echo "--- simulator"; tail -n 20 "$simlog" || true
  echo "--- program"; tail -n 40 "$work/app.log" || true
  echo "--- settings"; cat "$home/.config/Orvane/QVRemote.conf" 2>/dev/null || echo "(none)"
  echo "--- X server"; [[ -n $xvfb ]] && kill -0 "$xvfb" 2>/dev/null && echo "(running)" || echo "(gone)"
  tail -n 20 "$work/xvfb.log" 2>/dev/null || true
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
flow=start simlog=/dev/null home=/nonexistent xvfb=""

# The abstract socket only: no /tmp/.X11-unix left behind. -noreset: by default the server
# resets when its last client leaves, and the program connecting in that moment is refused
# (each xdotool call below is a client that comes and goes).
Xvfb -displayfd 3 -screen 0 1400x950x24 -nolisten tcp -nolisten unix -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
pids+=("$xvfb")
wait_for 100 test -s "$work/display" || fail "the X server did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
unset XDG_CONFIG_HOME XDG_STATE_HOME

# A window by its exact title, or nothing.
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
# The window of that title, waiting up to 30 s for it. A window that goes away while a
# search walks the tree fails that search; the next one looks again.
find_window() {
  local id
  for ((i = 0; i < 300; i++)); do
    id=$(window "$1")
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# The program's windows besides the panel: its popup menu or one of its boxes.
popups() { xdotool search --onlyvisible --classname '^qvremote$' 2>/dev/null | grep -vx "$panel" || true; }
popup_up() { [[ -n $(popups) ]]; }
popup_gone() { ! popup_up; }
count() { grep -c "$1" "$simlog" || true; }

# Starts the program and picks a line in the model dialog with the keys in $1 (OK has the
# focus: Enter takes the first line; Tab Tab Right reaches the second).
launch() {
  # Under the address sanitizer its leak scan at exit (0.4 s on a quiet machine, several times
  # that on a loaded one) is not the program's ending; the window tests check for leaks.
  TMPDIR="$work/tmp" HOME="$home" QT_QPA_PLATFORM=xcb \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$qvremote" --port "$port" \
    >>"$work/app.log" 2>&1 &
  app=$!
  pids+=("$app")
  local dialog
  dialog=$(find_window '^Select Model$') || fail "no model dialog"
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  # shellcheck disable=SC2086
  xdotool key $1
  panel=$(find_window '^QVRemote 2\.1$') || fail "no panel window"
}

# Right-click on the screen picture, then $1 Down presses and Enter. Disabled items are
# skipped by the keyboard, so the count follows the menu's state.
menu() {
  xdotool mousemove --window "$panel" "$menu_x" "$menu_y" click 3
  wait_for 50 popup_up || fail "no menu"
  local id
  id=$(popups | head -n 1)
  for ((i = 0; i < $1; i++)); do xdotool key Down; done
  xdotool key Return
  wait_for 50 bash -c "! xdotool search --onlyvisible --classname '^qvremote$' | grep -qx $id" ||
    fail "the menu did not close"
}

# OKs the box the session shows ("Connected").
ok_box() {
  wait_for 200 popup_up || fail "no \"$1\" box"
  xdotool windowfocus --sync "$(popups | head -n 1)" 2>/dev/null || true
  xdotool key Return
  wait_for 50 popup_gone || fail "the \"$1\" box did not close"
}

# Ends the program as a desktop session does at logout; it must be gone within 2 s.
stop_program() {
  kill -TERM "$app"
  wait_for 20 bash -c "! kill -0 $app 2>/dev/null" || fail "the program did not end within 2 s"
  local status=0
  wait "$app" || status=$?
  [[ $status -eq 0 ]] || fail "the program ended with status $status"
}

# Share in browser: the item above the first separator after Communication, reached from the
# end of the menu (Replay, Infomation, Live rate, Export recording, Record, Copy, Save, Share); View
# only, Enter (Apply); the page answers on the port the program listens on, and Close keeps it running.
share_flow() {
  xdotool mousemove --window "$panel" "$menu_x" "$menu_y" click 3
  wait_for 50 popup_up || fail "no menu"
  for ((i = 0; i < 8; i++)); do xdotool key Up; done
  xdotool key Return
  local dlg
  dlg=$(find_window '^Share in browser$') || fail "no Share in browser dialog"
  xdotool windowfocus --sync "$dlg" 2>/dev/null || true
  xdotool key Right Return
  listening() { ss -Hltnp 2>/dev/null | grep "pid=$app," | grep -q 127.0.0.1; }
  wait_for 100 listening || fail "the share did not start listening on loopback"
  local share_port
  share_port=$(ss -Hltnp | grep "pid=$app," | sed -n 's/.*127\.0\.0\.1:\([0-9]*\) .*/\1/p' | head -n 1)
  curl -fsS --max-time 5 "http://127.0.0.1:$share_port/" | grep -q "<html" ||
    fail "the share's page did not answer on port $share_port"
  import -window root "$work/share.png"
  [[ -n ${QV_E2E_SHOTS:-} ]] && cp "$work/share.png" "$QV_E2E_SHOTS/share-dialog.png"
  xdotool key Escape
  wait_for 50 bash -c "[[ -z \$(xdotool search --onlyvisible --name '^Share in browser$') ]]" ||
    fail "the Share in browser dialog did not close"
  echo "e2e: $flow: share page on port $share_port"
}

# One new user's path. $1 panel (soft|hard), $2 ipv4|ipv6, $3 address to type.
run_flow() {
  local line="Return" family=$2 address=$3
  [[ $1 == hard ]] && line="Tab Tab Right Return"
  flow="$1-key panel, $family"
  home="$work/home-$1-$family"
  simlog="$work/sim-$1-$family.log"
  mkdir -p "$home" "$work/tmp"
  : >"$work/app.log"
  local bind=127.0.0.1 radio_up=2
  [[ $family == ipv6 ]] && bind=::1 radio_up=1
  "$qvsim" --bind "$bind" --port 0 --size "$size" >"$simlog" 2>&1 &
  local sim=$!
  pids+=("$sim")
  wait_for 100 grep -q "listening on" "$simlog" || fail "the simulator did not start"
  port=$(sed -n 's/.*listening on .* port \([0-9]*\) .*/\1/p' "$simlog")

  launch "$line"
  echo "e2e: $flow: panel window $panel, simulator on [$bind]:$port"
  [[ ! -e $home/.config/Orvane/QVRemote.conf ]] || fail "a settings file exists before any choice"

  # Communication: the method is USB on a new machine; its radio has the focus. Up to the
  # wanted method, Tab into its address, type it, Enter.
  menu "$comm_item"
  local dlg
  dlg=$(find_window '^Communication$') || fail "no Communication dialog"
  xdotool windowfocus --sync "$dlg" 2>/dev/null || true
  for ((i = 0; i < radio_up; i++)); do xdotool key Up; done
  xdotool key Tab
  xdotool type --delay 40 "$address"
  xdotool key Return
  wait_for 50 bash -c "[[ -z \$(xdotool search --onlyvisible --name '^Communication$') ]]" ||
    fail "the Communication dialog did not close"
  wait_for 20 grep -q "Method=$([[ $family == ipv6 ]] && echo 3 || echo 1)" \
    "$home/.config/Orvane/QVRemote.conf" || fail "the link was not stored"

  menu 1  # Connect
  ok_box Connected
  menu 2  # Start
  streaming() { [[ $(count "qvsim: request 96") -ge 3 ]]; }
  wait_for 300 streaming || fail "no screens were streamed"

  # The picture shows the simulator's screen: close to the last frame received, far from black.
  wait_for 50 bash -c "ls '$work'/tmp/*.jpg" || fail "no frame file was written"
  sleep 0.6  # one more frame is drawn after the file was found
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  import -window root "$work/shot.png"
  convert "$work/shot.png" -crop "${screen_size}+$((X + screen_x))+$((Y + screen_y))" +repage \
    "$work/picture.png"
  cp "$(ls -t "$work"/tmp/*.jpg | head -n 1)" "$work/direct.jpg"
  convert "$work/direct.jpg" -resize "${screen_size}!" "$work/direct.png"
  convert -size "$screen_size" xc:black "$work/black.png"
  rmse() { { compare -metric RMSE "$1" "$2" null: 2>&1 || true; } | sed 's/.*(\(.*\))/\1/'; }
  local near far
  near=$(rmse "$work/picture.png" "$work/direct.png")
  far=$(rmse "$work/picture.png" "$work/black.png")
  echo "e2e: $flow: picture against the simulator's screen RMSE $near, against black $far"
  awk -v n="$near" -v f="$far" 'BEGIN { exit !(n < 0.12 && f > 0.05 && n < f) }' ||
    fail "the screen picture does not show the simulator's frame"

  # A real key: Enter of the panel.
  local before
  before=$(count "qvsim: command KEYP:ENTR")
  xdotool mousemove --window "$panel" "$enter_x" "$enter_y" click 1
  entered() { [[ $(count "qvsim: command KEYP:ENTR") -eq $((before + 1)) ]]; }
  wait_for 50 entered || fail "Enter did not reach the instrument once"
  # A touch on the screen picture.
  xdotool mousemove --window "$panel" "$((screen_x + 400))" "$((screen_y + 300))" click 1
  wait_for 50 grep -q "qvsim: command KEYP 400,300" "$simlog" ||
    fail "the touch did not reach the instrument"

  [[ $1 == soft && $family == ipv4 ]] && share_flow

  # The instrument goes away mid-stream and comes back on the same port: the link heals and
  # screens stream again without a click.
  kill "$sim"
  wait "$sim" 2>/dev/null || true
  sleep 1.5
  "$qvsim" --bind "$bind" --port "$port" --size "$size" >"$simlog.2" 2>&1 &
  sim=$!
  pids+=("$sim")
  wait_for 100 grep -q "listening on" "$simlog.2" || fail "the simulator did not start again"
  healed() { [[ $(grep -c "qvsim: request 96" "$simlog.2") -ge 2 ]]; }
  wait_for 200 healed || fail "screens did not stream again after the instrument came back"
  simlog="$simlog.2"
  stop_program

  # The next start finds the stored link: Connect alone connects.
  local asked
  asked=$(count "qvsim: request 80")
  launch "$line"
  menu 1  # Connect
  ok_box Connected
  [[ $(count "qvsim: request 80") -eq $((asked + 1)) ]] || fail "the stored link was not used"
  stop_program
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  echo "e2e: $flow: PASS"
}

# The soft-key panel: screen picture at (41, 39), 800 x 600; Enter at (1096, 669) 153 x 45.
# Menu while disconnected: Connect, Scale, Quality, Screen mode, Communication, ...
size=800x600 screen_x=41 screen_y=39 screen_size=800x600 enter_x=1172 enter_y=691
menu_x=441 menu_y=339 comm_item=5
run_flow soft ipv4 127.0.0.1
run_flow soft ipv6 ::1

# The hard-key panel: screen picture at (111, 25), 800 x 480; Enter at (452, 619) 230 x 40.
# Menu while disconnected: Connect, Quality, Screen mode, Communication, ...
size=800x480 screen_x=111 screen_y=25 screen_size=800x480 enter_x=567 enter_y=639
menu_x=511 menu_y=265 comm_item=4
run_flow hard ipv4 127.0.0.1
echo "e2e: PASS"
