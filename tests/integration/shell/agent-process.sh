#!/usr/bin/env bash
# Runs inside scripts/headless-session: starts the real agent with no configuration file
# and no service reachable, and checks that it docks in the tray, draws its idle icon,
# stays up, and that a second launch hands over and exits while the first keeps running.
set -u
agent="$1"
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

[ ! -e "$HOME/.vantrel/config.json" ] || { echo "FAILED: the session has a configuration"; exit 1; }

"$agent" >"$LARKSPIRE_SESSION_ROOT/agent.log" 2>&1 &
first=$!

panel=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')
# Docked icons are the panel's children; trayer keeps one 1x1 window of its own there.
icons() { xwininfo -id "$panel" -children 2>/dev/null | awk '/^ +0x/ && $0 !~ / 1x1\+/ {print $1}'; }
docked() { [ -n "$(icons)" ]; }
for _ in $(seq 100); do docked && break; sleep 0.05; done
check "the agent's icon is docked in the tray" docked

# The icon's pixels must not be blank.
icon=$(icons | head -1)
sleep 0.3
shot="$LARKSPIRE_SESSION_ROOT/icon.png"
import -window "$icon" "$shot" 2>/dev/null
colours=$(convert "$shot" -format '%k' info: 2>/dev/null || echo 0)
check "the idle icon is drawn (more than one colour in the icon: $colours)" test "${colours:-0}" -gt 1

start=$(date +%s%N)
"$agent"
second_rc=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
check "a second launch exits with status 0 (got $second_rc, after $elapsed_ms ms)" test "$second_rc" -eq 0
check "a second launch exits within 5 s" test "$elapsed_ms" -lt 5000

sleep 2
check "the first agent is still running without configuration or service" kill -0 "$first"
check "only one agent icon is docked" test "$(icons | wc -l)" -eq 1

kill -TERM "$first" 2>/dev/null
wait "$first" 2>/dev/null
if ((failures)); then
  echo "--- agent log"; cat "$LARKSPIRE_SESSION_ROOT/agent.log"
fi
echo "$((6 - failures)) passed, $failures failed"
exit $((failures > 0))
