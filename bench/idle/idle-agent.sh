#!/usr/bin/env bash
# An idle, signed-in agent: how often its threads wake and how much memory it holds,
# over SECONDS, first right after start (the reference), then after a large reading and
# a large screen-aware draft, measured in the same run in the headless desktop.
#   scripts/headless-session -- bench/idle/idle-agent.sh BUILD_DIR [SECONDS] [DRAFT_MB]
# Wake-ups are the context switches of all the agent's threads (/proc/PID/task/*/status).
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
measure() {  # prints "WAKEUPS_PER_SECOND RSS_MB" over $seconds
  local a b
  a=$(switches); sleep "$seconds"; b=$(switches)
  awk -v n=$((b - a)) -v s="$seconds" -v r="$(rss_mb)" 'BEGIN { printf "%.2f %s", n / s, r }'
}
requests() { grep -c "$1" "$work/service.log"; }

sleep 5  # start-up chores (permission report, activation) are over
read -r base_wake base_rss <<<"$(measure)"

# A large reading: about eight minutes of eSpeak NG speech, stopped after it starts.
python3 -c "print(' '.join(['The quick brown fox jumps over the lazy dog.'] * 200))" | xclip -selection clipboard
before=$(requests 'POST /api/speech 200')
focus_target
tray_menu 4
wait_until 120 test "$(requests 'POST /api/speech 200')" -gt "$before"
sleep 3
focus_target
tray_menu 4  # "Stop reading"
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
before=$(requests 'POST /api/contextual')
focus_target
xte 'keydown Control_L' 'keydown Alt_R'
wait_until 10 capturing
paplay --latency-msec=20 -d micfeed "$work/milk.wav"
sleep 0.3
xte 'keyup Alt_R' 'keyup Control_L'
wait_until 60 test "$(requests 'POST /api/contextual')" -gt "$before"
wait_until 120 grep -q 'Written at your cursor\|pasted\|Pasted' "$work/agent.log"
sleep 5
after_draft=$(rss_mb)

read -r idle_wake idle_rss <<<"$(measure)"
echo "over ${seconds} s each (wake-ups are context switches of all the agent's threads)"
printf '%-34s %12s %10s\n' "" "wake-ups/s" "RSS MB"
printf '%-34s %12s %10s\n' "idle right after start (reference)" "$base_wake" "$base_rss"
printf '%-34s %12s %10s\n' "after the reading (at its stop)" "" "$after_reading"
printf '%-34s %12s %10s\n' "after a ${draft_mb} MB draft" "" "$after_draft"
printf '%-34s %12s %10s\n' "idle after both" "$idle_wake" "$idle_rss"
awk -v a="$idle_rss" -v b="$base_rss" 'BEGIN { printf "memory after both: %+.1f MB against the reference\n", a - b }'
