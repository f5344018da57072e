#!/usr/bin/env bash
# The agent's own latency from the release of the dictation key to the paste chord
# reaching the target, measured in the headless desktop against the local service:
#   agent = (chord arrives - key released) - service time - 0.32 s of specified delays
# The service time is measured in the same run by uploading the same audio directly.
#   scripts/headless-session -- bench/latency/dictation-latency.sh BUILD_DIR [RUNS]
set -u
BUILD_DIR="$(cd "$1" && pwd)" SOURCE_DIR="$(cd "$(dirname "$0")/../.." && pwd)"
runs="${2:-5}"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_service
# The target's lines, each stamped with the time it was read (ns).
"$BUILD_DIR/tests/integration/input/gtk_target" --title "e2e target" 2>/dev/null |
  while IFS= read -r line; do echo "$(date +%s%N) $line"; done >"$work/stamped.out" &
e2e_pids+=($!)
wait_until 15 grep -qs ' ready' "$work/stamped.out" || { echo "target did not start"; exit 1; }
start_agent
speech s "please call the bank tomorrow morning"
token=$(curl -s -X POST -H 'apikey: larkspire-dev-anon-key' -H 'Content-Type: application/json' \
  -d '{"email":"e2e@example.com","password":"e2e-secret"}' \
  "$service_url/auth/v1/token?grant_type=password" | sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
# The agent uploads what it recorded: the sentence plus about 0.6 s of silence around it.
sox "$work/s.wav" "$work/upload.wav" pad 0.3 0.3

chords() { grep -c ' key ctrl+v' "$work/stamped.out"; }
printf '%-4s %10s %10s %10s\n' run total_ms service_ms agent_ms
sum=0
for i in $(seq "$runs"); do
  focus_target
  before=$(chords)
  xte 'keydown Alt_R'; sleep 0.3
  paplay --latency-msec=20 -d micfeed "$work/s.wav"; sleep 0.3
  xte 'keyup Alt_R'
  released=$(date +%s%N)
  for _ in $(seq 1000); do [ "$(chords)" -gt "$before" ] && break; sleep 0.02; done
  [ "$(chords)" -gt "$before" ] || { echo "no paste arrived"; cat "$work/stamped.out" "$work/agent.log"; exit 1; }
  chord=$(grep ' key ctrl+v' "$work/stamped.out" | tail -1 | cut -d' ' -f1)
  service=$(curl -s -o /dev/null -w '%{time_total}' -H "Authorization: Bearer $token" \
    -F "audio=@$work/upload.wav;filename=recording.wav;type=audio/wav" -F duration_secs=3 \
    -F source=mac -F ephemeral=true \
    "$service_url/api/transcribe")
  total_ms=$(((chord - released) / 1000000))
  service_ms=$(awk -v s="$service" 'BEGIN {printf "%d", s * 1000}')
  agent_ms=$((total_ms - service_ms - 320))
  sum=$((sum + agent_ms))
  printf '%-4s %10s %10s %10s\n' "$i" "$total_ms" "$service_ms" "$agent_ms"
  sleep 1.5  # let the panel hide and the vault pass finish
done
echo "mean agent latency over $runs runs: $((sum / runs)) ms (release to chord, minus service and 0.32 s)"
