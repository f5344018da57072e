#!/usr/bin/env bash
# Inside scripts/headless-session --no-tray: the agent must not run invisibly. Its menu
# lives in a window of its own, and choosing "Start recording" there brings that window to
# the front; the text must still go to the application the user was in, never into the
# agent's window. A tray that starts later takes the icon and the window goes; when the
# tray ends, the window comes back.
#   notray-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_all
speech bank "please call the bank tomorrow morning"
# Chooses the Nth item of the fallback window's menu button with the keyboard.
window_menu() {
  local w=""
  for c in $(xdotool search --onlyvisible --pid "$agent_pid"); do  # not its panel or menus
    xwininfo -id "$c" | grep -q 'Override Redirect State: no' && { w=$c; break; }
  done
  [ -n "$w" ] || { echo "no Larkspire window"; return 1; }
  eval "$(xdotool getwindowgeometry --shell "$w")"
  # Relative to the window: the absolute Y xdotool reports is off by the frame.
  choose_in_popup "$1" xdotool mousemove --window "$w" $((WIDTH / 2)) $((HEIGHT - 22)) sleep 0.2 click 1
}
agent_in_front() { xdotool getactivewindow getwindowname | grep -qx 'Larkspire'; }
agent_window() {  # not its menus or panel, which are override-redirect
  local w
  for w in $(xdotool search --onlyvisible --pid "$agent_pid" --name '^Larkspire$' 2>/dev/null); do
    xwininfo -id "$w" | grep -q 'Override Redirect State: no' && { echo "$w"; return; }
  done
}
window_viewable() { [ -n "$(agent_window)" ]; }
window_hidden() { ! window_viewable; }
icon_docked() {
  local panel
  panel=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')
  [ -n "$panel" ] && xwininfo -id "$panel" -children | grep -E '^ +0x' | grep -vq ' 1x1\+'
}

wait_until 5 window_viewable
check "a visible Larkspire window replaces the tray icon" window_viewable

focus_target
window_menu 1  # "Start recording"
sleep 0.3
check "the agent's window is in front while it records" agent_in_front
paplay --latency-msec=20 -d micfeed "$work/bank.wav"
sleep 0.3
window_menu 1  # "Stop & transcribe"
wait_until 20 text_is "Please call the bank tomorrow morning."
check "the text went to the application used before the agent's window (got: $(target_text))" \
  text_is "Please call the bank tomorrow morning."
check "the paste went to the target window ($(grep 'pasted with' "$work/agent.log" | tail -1))" \
  grep -q 'pasted with Ctrl+V into "Gtk_target"' "$work/agent.log"

trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
  --SetPartialStrut true >"$work/trayer.log" 2>&1 &
tray=$!
wait_until 5 icon_docked
check "a tray started later takes the icon" icon_docked
wait_until 5 window_hidden
check "the window goes once the tray is there" window_hidden
kill "$tray"; wait "$tray" 2>/dev/null
wait_until 5 window_viewable
check "the window comes back when the tray ends" window_viewable
check "the agent keeps running" kill -0 "$agent_pid"

# Launching Larkspire again opens its workspace window (as root it cannot run, and the
# agent says so: the count of ended windows tells that it was opened).
ended() { grep -c 'workspace window ended' "$work/agent.log"; }
before=$(ended)
"$BUILD_DIR/src/larkspire" >>"$work/relaunch.log" 2>&1
wait_for 15 '[ "$(ended)" -gt "$before" ]'
check "launching Larkspire again opens its workspace window" test "$(ended)" -gt "$before"
answer_window_alert
finish
