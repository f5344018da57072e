#!/usr/bin/env bash
# Shared steps of the real-application suites, sourced after e2e-lib.sh: one dictation
# into an application nobody on this project wrote, with the text read back from the
# application itself.

# Every application the suites use is installed by scripts/setup-deps: a missing one
# fails the suite, it is never skipped.
require() {  # require COMMAND...
  local c
  for c in "$@"; do
    command -v "$c" >/dev/null || { echo "FAILED: $c is not installed (run scripts/setup-deps)"; exit 1; }
  done
}

# Starts an application and waits until one of its windows is active.
#   launch NAME SECONDS COMMAND...   sets app_pid and app_window
launch() {
  local name="$1" seconds="$2"; shift 2
  "$@" >"$work/$name.out" 2>&1 &
  app_pid=$!
  e2e_pids+=("$app_pid")
  app_window=""
  local deadline=$((SECONDS + seconds))
  while ((SECONDS < deadline)); do
    app_window=$(active_window_of "$app_pid")
    [ -n "$app_window" ] && { window_pid_of_app; return 0; }
    # Some applications map their window without being given the focus.
    local w
    w=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | tail -1)
    [ -n "$w" ] && xdotool windowactivate "$w" 2>/dev/null
    sleep 0.2
  done
  echo "FAILED: $name showed no active window within $seconds s"; cat "$work/$name.out"
  e2e_failures=$((e2e_failures + 1))
  return 1
}
# The active window when it belongs to PID or one of its children; empty otherwise.
active_window_of() {
  local w pid
  w=$(xdotool getactivewindow 2>/dev/null) || return 0
  pid=$(xprop -id "$w" _NET_WM_PID 2>/dev/null | awk '{print $3}')
  [ -n "$pid" ] || return 0
  while [ -n "$pid" ] && [ "$pid" -gt 1 ]; do
    [ "$pid" = "$1" ] && { echo "$w"; return 0; }
    pid=$(awk '{print $4}' "/proc/$pid/stat" 2>/dev/null)
  done
}
# The process that owns the application's window (a launcher script may have started it).
window_pid_of_app() { app_window_pid=$(xprop -id "$app_window" _NET_WM_PID | awk '{print $3}'); }
# Visible windows of the application (its menus and popups are windows too).
app_windows() { xdotool search --onlyvisible --pid "$app_window_pid" 2>/dev/null | sort | tr '\n' ' '; }

# Holds the dictation key while the microphone plays WAV, then waits until the status
# panel has gone, so that what follows sees the application alone.
dictate_into_app() {  # dictate_into_app WAV
  windows_before=$(app_windows)
  dictate "$1"
}
panel_gone() { ! xdotool search --onlyvisible --name '^Larkspire status$' >/dev/null 2>&1; }

# A picture of the screen for a failed check, kept after the session ends.
screenshot() {
  local dir="$BUILD_DIR/e2e-screenshots"
  mkdir -p "$dir" && import -window root "$dir/${1// /-}.png" 2>/dev/null &&
    echo "screenshot: $dir/${1// /-}.png"
}

# Reads what a GUI application holds: select all and copy, then read CLIPBOARD. The
# clipboard first gets a marker from another owner, so a copy that did nothing (the
# agent still owning the pasted text) cannot pass for the application's text.
copied_text() {
  printf 'nothing-was-copied' | xclip -selection clipboard -i >/dev/null 2>&1 &
  sleep 0.2
  xte 'keydown Control_L' 'key a' 'keyup Control_L'
  sleep 0.2
  xte 'keydown Control_L' 'key c' 'keyup Control_L'
  sleep 0.5
  timeout 5 xclip -selection clipboard -o 2>/dev/null
}

# The checks every application gets after its dictation: the text, nothing else typed
# (exact comparison), no menu or popup window, the focus still on the application.
expect_delivery() {  # expect_delivery NAME EXPECTED ACTUAL
  check "$1: the sentence arrived exactly (got: $(printf '%q' "$3"))" test "$3" = "$2"
  [ "$3" = "$2" ] || screenshot "$1"
}
expect_no_popup_and_focus() {  # expect_no_popup_and_focus NAME
  wait_until 5 panel_gone
  check "$1: no menu or popup opened ($windows_before -> $(app_windows))" \
    test -n "$windows_before" -a "$(app_windows)" = "$windows_before"
  check "$1: the focus stayed on the application" test -n "$(active_window_of "$app_pid")"
}
# Pastes the agent has made so far, by its log; polled with wait_until, so a function.
pastes() { grep -c 'pasted with' "$work/agent.log"; }
pastes_over() { test "$(pastes)" -gt "$1"; }
# The log line that says which chord went where.
expect_chord() {  # expect_chord NAME CHORD
  check "$1: pasted with $2 (log: $(grep 'pasted with' "$work/agent.log" | tail -1))" \
    grep -q "pasted with $2 into" <(grep 'pasted with' "$work/agent.log" | tail -1)
}
# One dictation into the application in front and every check of its delivery: the paste
# happened, no popup and the focus kept, the chord the log names, and the text READER
# prints (default: select all and copy) exactly EXPECTED.
gui_case() {  # gui_case NAME WAV CHORD EXPECTED [READER]
  local before
  before=$(pastes)
  dictate_into_app "$2"
  wait_until 20 pastes_over "$before"
  sleep 0.8
  expect_no_popup_and_focus "$1"
  expect_chord "$1" "$3"
  expect_delivery "$1" "$4" "$("${5:-copied_text}")"
}
close_app() {
  kill "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
}
