#!/usr/bin/env bash
# Runs inside scripts/headless-session --no-tray: on a desktop without a tray the agent
# must not run invisibly; it opens a window that says so and carries the menu. A tray
# that starts later takes the icon and the window goes; when the tray ends, the window
# comes back.
set -u
agent="$1"
"$agent" >"$LARKSPIRE_SESSION_ROOT/agent.log" 2>&1 &
pid=$!
window=""
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Larkspire$' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.05
done
failures=0
if [ -n "$window" ] && xwininfo -id "$window" | grep -q 'Map State: IsViewable'; then
  echo "ok: a visible Larkspire window replaces the tray icon"
else
  echo "FAILED: no visible Larkspire window"; failures=1
fi

within() {  # within SECONDS COMMAND...: polls every 0.1 s
  local i
  for ((i = 0; i < $1 * 10; i++)); do "${@:2}" && return 0; sleep 0.1; done
  return 1
}
window_viewable() { xwininfo -id "$window" 2>/dev/null | grep -q 'Map State: IsViewable'; }
window_hidden() { ! window_viewable; }
icon_docked() {
  local panel
  panel=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')
  [ -n "$panel" ] && xwininfo -id "$panel" -children | grep -E '^ +0x' | grep -vq ' 1x1\+'
}
checks=2
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
  --SetPartialStrut true >"$LARKSPIRE_SESSION_ROOT/trayer.log" 2>&1 &
tray=$!
checks=$((checks + 2))
if within 5 icon_docked; then echo "ok: a tray started later takes the icon"; else echo "FAILED: the icon did not dock in the later tray"; failures=$((failures + 1)); fi
if within 5 window_hidden; then echo "ok: the window goes once the tray is there"; else echo "FAILED: the window stayed with a tray"; failures=$((failures + 1)); fi
kill "$tray"; wait "$tray" 2>/dev/null
checks=$((checks + 1))
if within 5 window_viewable; then echo "ok: the window comes back when the tray ends"; else echo "FAILED: no window after the tray ended"; failures=$((failures + 1)); fi

kill -0 "$pid" 2>/dev/null && echo "ok: the agent keeps running" || { echo "FAILED: the agent ended"; failures=$((failures + 1)); }
kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
((failures)) && cat "$LARKSPIRE_SESSION_ROOT/agent.log"
echo "$((checks - failures)) passed, $failures failed"
exit $((failures > 0))
