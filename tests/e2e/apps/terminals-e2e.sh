#!/usr/bin/env bash
# Real terminal emulators inside scripts/headless-session: a dictation into a program
# that writes the bytes its terminal delivers to a file, in raw mode (no line editing,
# no echo), so any stray byte (a ^V, an escape) shows.
#   terminals-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"
source "$SOURCE_DIR/tests/e2e/apps/apps-lib.sh"
require xterm urxvt xfce4-terminal

start_service
start_agent
speech bank "please call the bank tomorrow morning"
speech milk "remind me to buy milk and bread"
speech plants "water the plants on the balcony"
receiver() { echo "stty raw -echo; exec cat > $work/\$0.bytes"; }
bytes_of() { cat "$work/$1.bytes" 2>/dev/null; }
bytes_are() { test "$(bytes_of "$1")" = "$2"; }

terminal_case() {  # terminal_case NAME CHORD WAV SENTENCE COMMAND...
  local name="$1" chord="$2" wav="$3" sentence="$4"; shift 4
  launch "$name" 20 "$@" || return
  sleep 0.5
  dictate_into_app "$work/$wav.wav"
  wait_until 20 bytes_are "$name" "$sentence"
  sleep 0.5
  expect_delivery "$name" "$sentence" "$(bytes_of "$name")"
  expect_chord "$name" "$chord"
  expect_no_popup_and_focus "$name"
  close_app
}

terminal_case xterm "Shift+Insert" bank "Please call the bank tomorrow morning." \
  xterm -e sh -c "$(receiver)" xterm
terminal_case urxvt "Shift+Insert" milk "Remind me to buy milk and bread." \
  urxvt -e sh -c "$(receiver)" urxvt
terminal_case xfce4-terminal "Ctrl+Shift+V" plants "Water the plants on the balcony." \
  xfce4-terminal --disable-server -x sh -c "$(receiver)" xfce4-terminal

finish
