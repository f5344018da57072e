#!/usr/bin/env bash
# An idle, signed-in agent: how often its threads wake and how much memory it holds,
# over SECONDS, first right after start (the reference), then after a large reading and
# a large screen-aware draft, measured in the same run in the headless desktop.
#   scripts/headless-session -- bench/idle/idle-agent.sh BUILD_DIR [SECONDS] [DRAFT_MB]
# Wake-ups: the 100 ms steps in which any of the agent's threads was switched in (from the
# context-switch counts of /proc/PID/task/*/status); one wake-up of several threads, or
# of one thread blocking a few times, counts once. The switches themselves are shown too.
set -u
BUILD_DIR="$(cd "$1" && pwd)" SOURCE_DIR="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${2:-60}" draft_mb="${3:-20}"
skip_priming=1
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

mkdir -p "$XDG_CONFIG_HOME/Larkspire"
printf '[General]\nscreenAwareConsent=true\nscreenAwareEnabled=false\n' >"$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
start_all
switches() { cat /proc/"$agent_pid"/task/*/status 2>/dev/null | awk '/ctxt_switches/ { s += $2 } END { print s }'; }
rss_mb() { awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' /proc/"$agent_pid"/status; }
measure() {  # prints "WAKEUPS_PER_SECOND SWITCHES_PER_SECOND RSS_MB" over $seconds
  local first last now woke=0 steps=$((seconds * 10))
  first=$(switches); last=$first
  for _ in $(seq "$steps"); do
    sleep 0.1
    now=$(switches)
    ((now != last)) && woke=$((woke + 1))
    last=$now
  done
  awk -v w="$woke" -v n=$((last - first)) -v s="$seconds" -v r="$(rss_mb)" \
    'BEGIN { printf "%.2f %.2f %s", w / s, n / s, r }'
}
requests() { grep -c "$1" "$work/service.log"; }

sleep 5  # start-up chores (permission report, activation) are over
read -r base_wake base_switch base_rss <<<"$(measure)"

# A large reading: about eight minutes of eSpeak NG speech, stopped after it starts.
python3 -c "print(' '.join(['The quick brown fox jumps over the lazy dog.'] * 200))" | xclip -selection clipboard
before=$(requests 'POST /api/speech 200')
focus_target
tray_menu 4
wait_for 120 '[ "$(requests "POST /api/speech 200")" -gt "$before" ]'
sleep 3
focus_target
tray_menu 4  # "Stop reading"
panel() { "$BUILD_DIR/tests/e2e/panel_text" "$agent_pid"; }
wait_for 10 'panel | grep -qx "label Reading stopped"' || echo "the reading did not stop: $(panel | tr '\n' '|')"
sleep 5
after_reading=$(rss_mb)

# A large draft: the service answers with DRAFT_MB of text.
python3 - "$draft_mb" >"$work/draft-fault.json" <<'PY'
import json, sys
draft = ("word " * (int(sys.argv[1]) * 1024 * 1024 // 5))
print(json.dumps({"path": "/api/contextual", "count": 1,
                  "body": {"intent": "write", "draft": draft, "voiceEnabled": False}}))
PY
curl -s -X POST -H 'Content-Type: application/json' --data-binary @"$work/draft-fault.json" \
  "$service_url/__admin/fail" >/dev/null
speech milk "remind me to buy milk and bread"
pastes() { grep -c 'Larkspire: pasted with' "$work/agent.log"; }
pasted_before=$(pastes)
before=$(requests 'POST /api/contextual')
focus_target
xte 'keydown Control_L' 'keydown Alt_R'
wait_until 10 capturing
paplay --latency-msec=20 -d micfeed "$work/milk.wav"
sleep 0.3
xte 'keyup Alt_R' 'keyup Control_L'
wait_for 60 '[ "$(requests "POST /api/contextual")" -gt "$before" ]'
wait_for 120 '[ "$(pastes)" -gt "$pasted_before" ]'
test "$(pastes)" -gt "$pasted_before" && delivered=pasted || delivered="NOT pasted"
sleep 5
after_draft=$(rss_mb)

read -r idle_wake idle_switch idle_rss <<<"$(measure)"
echo "over ${seconds} s each"
printf '%-36s %12s %12s %10s\n' "" "wake-ups/s" "switches/s" "RSS MB"
printf '%-36s %12s %12s %10s\n' "idle right after start (reference)" "$base_wake" "$base_switch" "$base_rss"
printf '%-36s %12s %12s %10s\n' "5 s after stopping a long reading" "" "" "$after_reading"
printf '%-36s %12s %12s %10s\n' "5 s after a ${draft_mb} MB draft ($delivered)" "" "" "$after_draft"
printf '%-36s %12s %12s %10s\n' "idle after both" "$idle_wake" "$idle_switch" "$idle_rss"
awk -v a="$idle_rss" -v b="$base_rss" 'BEGIN { printf "memory after both: %+.1f MB against the reference\n", a - b }'
