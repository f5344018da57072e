#!/usr/bin/env bash
# Shared steps of the end-to-end scripts and the demo, sourced inside
# scripts/headless-session.
#   BUILD_DIR, SOURCE_DIR must be set.

e2e_failures=0
e2e_passes=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then
    echo "ok: $1"; e2e_passes=$((e2e_passes + 1))
  else
    echo "FAILED: $1"; e2e_failures=$((e2e_failures + 1))
  fi
}
wait_until() {  # wait_until SECONDS COMMAND...: polls every 50 ms
  local deadline=$((SECONDS + $1)); shift
  while ((SECONDS < deadline)); do "$@" && return 0; sleep 0.05; done
  "$@"
}
# The local service's own time for speaking TEXT, in milliseconds from sending it to the
# last byte of its audio, which goes to FILE: speech_ms FILE TEXT (signed in as the suites'
# account on first use).
speech_ms() {
  if [ -z "${speech_token:-}" ]; then
    speech_token=$(curl -s -X POST -H 'apikey: larkspire-dev-anon-key' \
      -H 'Content-Type: application/json' -d '{"email":"e2e@example.com","password":"e2e-secret"}' \
      "$service_url/auth/v1/token?grant_type=password" |
      sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
  fi
  curl -s -o "$1" -w '%{time_total}' -X POST -H "Authorization: Bearer $speech_token" \
    -H 'Content-Type: application/json' -d "{\"text\":\"$2\"}" "$service_url/api/speech" |
    awk '{ printf "%.0f", $1 * 1000 }'
}
# wait_for SECONDS 'CONDITION': the condition is shell text evaluated afresh at every poll,
# for conditions on a command's output ("$(...)" in wait_until's arguments is read once).
wait_for() {
  local deadline=$((SECONDS + $1)) condition=$2
  while ((SECONDS < deadline)); do eval "$condition" && return 0; sleep 0.05; done
  eval "$condition"
}
e2e_pids=()
e2e_cleanup() {
  for ((i = ${#e2e_pids[@]} - 1; i >= 0; i--)); do kill "${e2e_pids[$i]}" 2>/dev/null; done
  wait 2>/dev/null
}
trap e2e_cleanup EXIT

work="$LARKSPIRE_SESSION_ROOT/e2e"
mkdir -p "$work"
pending_dir="$XDG_DATA_HOME/Larkspire/Pending Recordings"
silent_dir="$pending_dir/Silent Recordings"
pending_count() { find "$pending_dir" -maxdepth 1 -type f \( -name '*.wav' -o -name '*.caf' \) 2>/dev/null | wc -l; }
# True once sound reaches the newest pending recording (more than its header and a first
# block): the microphone stream runs, so speech played now is heard from its first word.
# On a loaded machine the first dictation of a run lost its opening words without this wait.
capturing() {
  local newest
  newest=$(ls -t "$pending_dir"/*.wav "$pending_dir"/*.caf 2>/dev/null | head -1)
  [ -n "$newest" ] && [ "$(stat -c %s "$newest")" -gt 8192 ]
}

# The local service on a free port, with the sentence grammar (or $grammar) and the
# options in service_args, and an account whose password the agent's configuration names.
start_service() {
  local data="$work/service"
  "$BUILD_DIR/server/larkspire-server" add-user e2e@example.com e2e-secret --data "$data" >/dev/null
  "$BUILD_DIR/server/larkspire-server" --port 0 --data "$data" --preload --config "$work/no-config.json" \
    --grammar "${grammar:-$SOURCE_DIR/server/sentences.gram}" ${service_args[@]+"${service_args[@]}"} \
    >"$work/service.out" 2>"$work/service.log" &
  e2e_pids+=($!)
  wait_until 30 grep -qs 'listening on' "$work/service.out" || { echo "service did not start"; cat "$work/service.log"; exit 1; }
  service_url=$(grep -o 'http://[0-9.:]*' "$work/service.out" | head -1)
  mkdir -p "$HOME/.vantrel"
  cat >"$HOME/.vantrel/config.json" <<JSON
{"api_url": "$service_url", "supabase_url": "$service_url", "anon_key": "larkspire-dev-anon-key",
 "email": "e2e@example.com", "password": "e2e-secret", "vault_dir": "$work/vault"}
JSON
}
admin() {  # admin METHOD JSON: fault control of the service
  curl -s -X "$1" -H 'Content-Type: application/json' -d "${2:-{\}}" "$service_url/__admin/fail" >/dev/null
}
transcribe_requests() { grep -c '/api/transcribe' "$work/service.log"; }

# A GTK text field that reports its text on stdout (more of the window: start_target ARGS).
start_target() {
  "$BUILD_DIR/tests/integration/input/gtk_target" --title "e2e target" "$@" >"$work/target.out" 2>"$work/target.log" &
  e2e_pids+=($!)
  target_pid=$!
  wait_until 15 grep -qs '^ready' "$work/target.out" || { echo "target did not start"; exit 1; }
}
target_text() { grep '^text ' "$work/target.out" | tail -1 | cut -c6-; }
focus_target() {
  local w
  w=$(xdotool search --onlyvisible --name '^e2e target$' | head -1)
  xdotool windowactivate --sync "$w" 2>/dev/null
}

activations() { grep -c 'POST /api/activation' "$work/service.log"; }
signed_in() { test "$(activations)" -ge $((activations_before + 2)); }
text_is() { test "$(target_text)" = "$1"; }
start_agent() {
  activations_before=$(activations)
  "$BUILD_DIR/src/larkspire" >"$work/agent.log" 2>&1 &
  e2e_pids+=($!)
  agent_pid=$!
  # Signed in and listening: the service has heard both start-up milestones
  # ("signed_in", then "shortcut_ready" once the key monitor runs).
  wait_until 30 signed_in || { echo "agent did not sign in"; cat "$work/agent.log"; tail -20 "$work/service.log"; exit 1; }
  answer_window_alert
}
# As root (without QTWEBENGINE_DISABLE_SANDBOX) the workspace window that every signed-in
# start opens cannot run; the agent says so in an alert, which is answered here as the user
# would, so that the suites begin with the focus where they put it.
agent_dialog() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$agent_pid" 2>/dev/null); do
    xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG && { echo "$w"; return; }
  done
}
# In sway, the agent's dialog floats: its container id.
sway_dialog() {
  swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
def walk(node):
    for f in node.get("floating_nodes", []):
        if f.get("pid") == int(sys.argv[1]):
            print(f["id"]); sys.exit()
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))' "$agent_pid"
}
answer_window_alert() {
  [ "$(id -u)" = 0 ] && [ -z "${QTWEBENGINE_DISABLE_SANDBOX:-}" ] || return 0
  local find=agent_dialog
  [ -z "${DISPLAY:-}" ] && [ -n "${SWAYSOCK:-}" ] && find=sway_dialog
  [ -n "${DISPLAY:-}${SWAYSOCK:-}" ] || return 0
  wait_until 10 grep -q 'workspace window ended' "$work/agent.log"
  wait_for 5 '[ -n "$($find)" ]'
  check "the user is told why the workspace window cannot open" test -n "$($find)"
  if [ $find = sway_dialog ]; then
    swaymsg "[con_id=$(sway_dialog)] kill" >/dev/null
  else
    xdotool windowactivate --sync "$(agent_dialog)" key Escape 2>/dev/null
  fi
  wait_for 5 '[ -z "$($find)" ]'
}
# Speech as 16 kHz mono WAV.
speech() {  # speech NAME "sentence"
  espeak-ng -v en-us -w "$work/$1-22k.wav" "$2" && sox "$work/$1-22k.wav" -r 16000 -c 1 -b 16 "$work/$1.wav"
}

# Holds the dictation key (Right Alt) while the microphone hears FILE.
dictate() {
  xte 'keydown Alt_R'
  wait_until 10 capturing
  paplay --latency-msec=20 -d micfeed "$1"
  sleep 0.3
  xte 'keyup Alt_R'
}

# Chooses the Nth enabled item of the tray menu with the keyboard (1 = "Start recording"):
# the keyboard passes over disabled items, so N counts only the enabled ones above it.
tray_menu() { choose_in_popup "$1" tray_click; }
tray_click() {
  local panel icon geometry x y
  panel=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')
  icon=$(xwininfo -id "$panel" -children | awk '/^ +0x/ && $0 !~ / 1x1\+/ {print $1; exit}')
  geometry=$(xwininfo -id "$icon" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}')
  read -r x y <<<"$geometry"
  xdotool mousemove $((x + 11)) $((y + 11)) sleep 0.2 click 3
}
# The agent's visible override-redirect windows: its popup menus and its floating panel.
agent_popups() {
  local w n=0
  for w in $(xdotool search --onlyvisible --pid "$agent_pid" 2>/dev/null); do
    xwininfo -id "$w" | grep -q 'Override Redirect State: yes' && n=$((n + 1))
  done
  echo "$n"
}
popup_opened() { (($(agent_popups) > popups_before)); }
# Chooses the Nth enabled item of the menu that CLICK opens, once it is on screen: a fixed
# pause sent the keys to the application behind it when the machine was busy. CLICK pauses
# between moving and pressing: Qt ignored a press that came with the pointer's arrival.
choose_in_popup() {  # choose_in_popup N CLICK-COMMAND...
  popups_before=$(agent_popups)
  "${@:2}"
  wait_until 10 popup_opened || echo "the agent's menu did not open"
  for _ in $(seq "$1"); do xte 'key Down'; sleep 0.05; done
  tray_chosen_at=$(date +%s%N)  # when the item was chosen, in ns
  xte 'key Return'
}

# The usual opening: service, target window, agent signed in.
start_all() {
  start_service
  start_target
  start_agent
}

finish() {
  echo "$e2e_passes passed, $e2e_failures failed"
  if ((e2e_failures)); then
    echo "--- agent log"; cat "$work/agent.log"; echo "--- service log"; tail -30 "$work/service.log"
    echo "--- target"; cat "$work/target.out"
  fi
  exit $((e2e_failures > 0))
}
