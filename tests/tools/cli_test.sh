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
