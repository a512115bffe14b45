#!/usr/bin/env bash
# The real program under Xvfb. With the demo profile and database it shows its window and the
# exit button ends it with status 0. With the stored database missing, the fatal failure box
# appears, no main window is ever shown, and dismissing the box (or a termination signal) ends it
# with status 1.
#
#   tests/program_test.sh PROGRAM SCRIPTS_DIR
set -euo pipefail
program=$1
scripts=$2

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A display of our own.
display=""
for n in $(seq 91 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"

export SORVANTO_DRIVES=$work/drives
unset QT_QPA_PLATFORM
# In a sanitizer build the program still runs under AddressSanitizer and UBSan, but without the
# leak check at exit: LeakSanitizer's tracer has crashed among the embedded engine's threads
# while the whole program shut down, failing the run by chance. The library and widget tests
# keep the leak check.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
bash "$scripts/seed-demo.sh" >"$work/seed.log" 2>&1 || { cat "$work/seed.log"; fail "seeding"; }

# Waits for a visible window whose name matches; prints its id.
wait_window() {
  local name=$1 id
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    if ! kill -0 "$program_pid" 2>/dev/null; then
      return 1
    fi
    sleep 0.1
  done
  return 1
}

# Waits for the program to end and sets `status` to its exit status. Runs in this shell, not a
# subshell, so that it can reap the program.
wait_exit() {
  for _ in $(seq 150); do
    if ! kill -0 "$program_pid" 2>/dev/null; then
      status=0
      wait "$program_pid" || status=$?
      program_pid=""
      return 0
    fi
    sleep 0.1
  done
  fail "the program did not end"
}

# 1. The demo: the window shows, Button1 ("終了" at 175,0 75x25) ends the program.
"$program" >"$work/run1.log" 2>&1 &
program_pid=$!
window=$(wait_window '^Sorvanto$') || { cat "$work/run1.log"; fail "no main window"; }
xdotool mousemove --window "$window" 212 12 click 1
wait_exit
[ "$status" = 0 ] || { cat "$work/run1.log"; fail "exit status $status after Button1, expected 0"; }
echo "ok: the demo window showed and Button1 ended the program with status 0"

# 2. A termination signal (a session ending) closes the program as the window's frame would.
"$program" >"$work/run3.log" 2>&1 &
program_pid=$!
wait_window '^Sorvanto$' >/dev/null || { cat "$work/run3.log"; fail "no main window"; }
kill -TERM "$program_pid"
wait_exit
[ "$status" = 0 ] || { cat "$work/run3.log"; fail "exit status $status after SIGTERM, expected 0"; }
echo "ok: SIGTERM ended the program with status 0"

# 3. The stored database missing: the fatal failure box, never the main window, status 1.
mv "$SORVANTO_DRIVES/c/firebird/document.fdb" "$work/document.fdb"
"$program" >"$work/run2.log" 2>&1 &
program_pid=$!
box=$(wait_window 'アプリケーション エラー') || { cat "$work/run2.log"; fail "no fatal failure box"; }
if xdotool search --onlyvisible --name '^Sorvanto$' >/dev/null 2>&1; then
  fail "the main window exists while the fatal failure box is shown"
fi
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key --clearmodifiers Return
wait_exit
[ "$status" = 1 ] || { cat "$work/run2.log"; fail "exit status $status after the fatal box, expected 1"; }
echo "ok: the fatal failure box showed alone and dismissing it ended the program with status 1"

# 4. A session ending while the fatal failure box is shown ends the program too.
"$program" >"$work/run4.log" 2>&1 &
program_pid=$!
wait_window 'アプリケーション エラー' >/dev/null || { cat "$work/run4.log"; fail "no fatal failure box"; }
kill -TERM "$program_pid"
wait_exit
[ "$status" = 1 ] || { cat "$work/run4.log"; fail "exit status $status after SIGTERM at the fatal box, expected 1"; }
echo "ok: SIGTERM while the fatal failure box was shown ended the program with status 1"
echo "4 passed, 0 failed"
