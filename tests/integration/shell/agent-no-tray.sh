#!/usr/bin/env bash
# Runs inside scripts/headless-session --no-tray: on a desktop without a tray the agent
# must not run invisibly; it opens a window that says so and carries the menu.
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
kill -0 "$pid" 2>/dev/null && echo "ok: the agent keeps running" || { echo "FAILED: the agent ended"; failures=$((failures + 1)); }
kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
((failures)) && cat "$LARKSPIRE_SESSION_ROOT/agent.log"
echo "$((2 - failures)) passed, $failures failed"
exit $((failures > 0))
