#!/usr/bin/env bash
# The three programs' command lines where there is no display: help and version answer,
# bad arguments give status 2, qvctl's USB commands run on this machine's real udev.
#   cli_test.sh QVREMOTE QVSIM QVCTL VERSION MANDIR
set -uo pipefail
qvremote=$1 qvsim=$2 qvctl=$3 version=$4 mandir=$5
failures=0
out=$(mktemp "${TMPDIR:-/tmp}/cli-out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/cli-err.XXXXXX")
trap 'rm -f "$out" "$err"' EXIT

fail() {
  echo "FAIL: $*"
  echo "--- stdout"; head -n 20 "$out"
  echo "--- stderr"; head -n 20 "$err"
  failures=$((failures + 1))
}
# run STATUS PROGRAM ARGS...: runs without any display and expects the exit status.
run() {
  local want=$1; shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$out" 2>"$err"
  local got=$?
  [[ $got == "$want" ]] || fail "$* exited $got, not $want"
}
says() { grep -qF -- "$1" "$out" || fail "stdout lacks \"$1\""; }
quiet_stderr() { [[ ! -s $err ]] || fail "$1 wrote to stderr"; }

for prog in "$qvremote" "$qvsim" "$qvctl"; do
  name=$(basename "$prog")
  for opt in --help -h; do
    run 0 "$prog" "$opt"
    [[ $(head -c 7 "$out") == "usage: " ]] || fail "$name $opt does not start with usage"
    says "$name("
    quiet_stderr "$name $opt"
  done
  for opt in --version -v; do
    run 0 "$prog" "$opt"
    [[ $(cat "$out") == "$name $version" ]] || fail "$name $opt printed '$(cat "$out")'"
    quiet_stderr "$name $opt"
  done
  run 2 "$prog" --no-such-option
  [[ -s $err ]] || fail "$name: no message for a bad option"
done

# A model of each kind the panel tells apart: touch screen, no touch, the hard-key line.
run 0 "$qvsim" --help
for model in QV392B TQ381A HN140 QV364C; do says " $model"; done
# The manual page lists the same names.
for model in $(sed -n '/^Model names/,/^For the hard-key/p' "$out" | grep '^    '); do
  grep -qw -- "$model" "$mandir/qvsim.1" || fail "qvsim(1) does not list $model"
done

# qvsim by default: the loopback addresses alone, as the system lists its listening sockets
# (/proc/net/tcp*: local address in hex, state 0A). Text from a peer never reaches a terminal
# raw: a command qvsim receives and the model name qvctl prints come out escaped.
simlog=$(mktemp "${TMPDIR:-/tmp}/cli-sim.XXXXXX")
"$qvsim" --port 0 --model $'EVIL\e]0;owned\a\e[31m' >"$simlog" 2>&1 &
sim=$!
wait_log() {
  for _ in $(seq 100); do grep -qF -- "$1" "$simlog" && return 0; sleep 0.05; done
  return 1
}
wait_log "listening on" || fail "qvsim did not start: $(cat "$simlog")"
port=$(sed -n 's/.*listening on .* port \([0-9]*\) .*/\1/p' "$simlog")
grep -qF "listening on 127.0.0.1" "$simlog" || fail "qvsim: $(head -n 1 "$simlog")"
hex=$(printf '%04X' "${port:-0}")
bound=$(awk -v p="$hex" 'FNR > 1 && $4 == "0A" { split($2, a, ":"); if (a[2] == p) print a[1] }' \
  /proc/net/tcp /proc/net/tcp6 | sort | tr '\n' ' ')
[[ $bound == "00000000000000000000000001000000 0100007F " || $bound == "0100007F " ]] ||
  fail "qvsim listens on '$bound' (hex), not the loopback addresses alone"
run 0 "$qvctl" "127.0.0.1:$port" key $'KEYP:\e[2J\rX'
wait_log 'qvsim: command KEYP:\x1b[2J\x0dX' || fail "qvsim printed: $(tail -n 2 "$simlog")"
run 0 "$qvctl" "127.0.0.1:$port" info
[[ $(cat "$out") == 'EVIL\x1b]0;owned\x07\x1b[31m' ]] || fail "qvctl info printed $(od -c "$out")"
grep -q $'[\e\a\r]' "$simlog" "$out" && fail "a control character reached the terminal"
kill "$sim"
wait "$sim"
rm -f "$simlog"

# No display: a plain message, not Qt's abort.
run 1 "$qvremote"
grep -q "no display" "$err" || fail "qvremote without a display: $(cat "$err")"
QT_QPA_PLATFORM=offscreen "$qvremote" --port 0 >"$out" 2>"$err"
[[ $? == 2 ]] || fail "qvremote --port 0 is not a usage error"

run 0 "$qvctl" usb-rule 1A2B:3C4D
says 'ATTR{idVendor}=="1a2b", ATTR{idProduct}=="3c4d", ENV{QVREMOTE_INTERFACE_CLASS}="{B3F1DCDB-95D5-49D5-98E1-57C0F89511F6}"'
[[ $(wc -l <"$out") == 1 ]] || fail "usb-rule prints more than the rule line"
run 0 "$qvctl" usb-rule 1a2b:3c4d --older
says '{0DF82E02-6A7B-4A0C-BCAD-F2FC6A191D67}'
run 2 "$qvctl" usb-rule 1a2b
run 2 "$qvctl" usb-rule 1a2b:3c4d --newer
run 2 "$qvctl" usb --bogus

# Whatever this machine has attached: a report, and 0 only when a device can be opened.
env -u DISPLAY "$qvctl" usb >"$out" 2>"$err"
status=$?
[[ $status == 0 || $status == 1 ]] || fail "qvctl usb exited $status"
[[ -s $out ]] || fail "qvctl usb printed nothing"
if [[ $status == 0 ]]; then says "open:   yes"; fi

((failures == 0)) && echo "cli: all checks passed"
exit $((failures > 0))
