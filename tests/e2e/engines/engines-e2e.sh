#!/usr/bin/env bash
# End to end, inside scripts/headless-session: the agent, the local service in front of
# outside engines, and a fake OpenAI-compatible engine that records what it is sent. A
# dictation is transcribed by the fake speech engine and cleaned by the fake model; a
# screen-aware request's chat holds the redacted window; read-aloud plays the fake voice
# engine's tone; a failing engine leaves the recording pending.
#   engines-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

"$BUILD_DIR/tests/support/fake-engine/larkspire-fake-engine" >"$work/engine.out" 2>"$work/engine.log" &
e2e_pids+=($!)
wait_until 10 grep -qs 'listening on' "$work/engine.out" || { echo "fake engine did not start"; exit 1; }
engine="$(grep -o 'http://[0-9.:]*' "$work/engine.out" | head -1)"
base="$engine/v1"
script() { curl -s -X POST -H 'Content-Type: application/json' -d "$1" "$engine/__script" >/dev/null; }
# Field F (a Python expression over request r) of the requests to PATH, one a line.
received() {  # received PATH EXPRESSION
  curl -s "$engine/__received" | python3 -c '
import json, sys
for r in json.load(sys.stdin):
    if r["path"].endswith(sys.argv[1]):
        print(eval(sys.argv[2]))' "$1" "$2"
}
count() { received "$1" 1 | wc -l; }

key="sk-e2e-0123456789abcdef"
export LARKSPIRE_ENGINE_KEY="$key"
service_args=(--stt-url "$base" --llm-url "$base" --llm-model e2e-model --tts-url "$base")
mkdir -p "$XDG_CONFIG_HOME/Larkspire"
printf '[General]\nscreenAwareConsent=true\nscreenAwareEnabled=false\n' >"$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
start_service
start_target --message "From: Ana Lopez. Can you come to dinner on Friday?" \
  --notes $'api_key = abcdef123456\nBring the salad.'
start_agent
speech hello "hello there, this is a test of the engines"
logged() { grep -qF "$1" "$work/agent.log"; }
ends_with() { [[ "$(target_text)" == *"$1" ]]; }

# 1. Dictation: the fake speech engine's words, cleaned by the fake model, at the cursor.
script '{"path": "/audio/transcriptions", "text": "um so the meeting moved to noon", "count": 1}'
script '{"path": "/chat/completions", "text": "So the meeting moved to noon.", "count": 1}'
focus_target
dictate "$work/hello.wav"
wait_until 30 text_is "So the meeting moved to noon."
check "the fake engines' text is pasted (got: $(target_text))" text_is "So the meeting moved to noon."
check "the speech engine got the recording as a WAV file with the key" \
  test "$(received /audio/transcriptions '(r["authorization"], r["form"]["file"]["contentType"], r["form"]["model"])' | head -1)" \
  = "('Bearer $key', 'audio/wav', 'whisper-1')"
check "the model was asked to clean that transcript" \
  grep -qF "um so the meeting moved to noon" <(received /chat/completions 'r["json"]["messages"][1]["content"]')
check "the key is in no log" bash -c "! grep -qF '$key' '$work/service.log' '$work/agent.log'"
check "nothing is pending after the paste" test "$(pending_count)" -eq 0

# 2. Screen-aware: the instruction is cleaned, then the model drafts from the redacted window.
script '{"path": "/chat/completions", "text": "{\"draft\": \"I will be there at six.\", \"explanation\": \"A short yes.\"}", "count": 1}'
script '{"path": "/chat/completions", "text": "Reply that I will be there at six.", "count": 1}'
script '{"path": "/audio/transcriptions", "text": "reply that i will be there at six", "count": 1}'
chats=$(count /chat/completions)
focus_target
xte 'keydown Control_L' 'keydown Alt_R'
wait_for 10 '[ "$(pending_count)" -eq 1 ]'
wait_until 10 capturing
paplay --latency-msec=20 -d micfeed "$work/hello.wav"
sleep 0.3
xte 'keyup Alt_R' 'keyup Control_L'
wait_until 30 ends_with "I will be there at six."
check "the model's draft is pasted at the cursor (got: $(target_text))" ends_with "I will be there at six."
draft_request() { received /chat/completions 'json.dumps(r["json"]["messages"][1]["content"])' | tail -1; }
check "two chats: the cleanup, then the draft" test "$(count /chat/completions)" -eq $((chats + 2))
check "the draft's chat holds the spoken instruction" grep -qF "Instruction: Reply that I will be there at six." <(draft_request)
check "the draft's chat holds the window's text" grep -qF "From: Ana Lopez. Can you come to dinner on Friday?" <(draft_request)
check "the key in the window arrives as [REDACTED]" grep -qF "[REDACTED]" <(draft_request)
check "the secret itself reaches no engine" bash -c "! curl -s '$engine/__received' | grep -q abcdef123456"
# The explanation is spoken in the voice engine's tone.
wait_for 10 '[ "$(count /audio/speech)" -ge 1 ]'
check "the explanation goes to the voice engine (got: $(received /audio/speech 'r["json"]["input"]' | tail -1))" \
  test "$(received /audio/speech 'r["json"]["input"]' | tail -1)" = "I pasted it. A short yes."

# 3. Read aloud plays the voice engine's WAV: 0.6 s of 440 Hz on the virtual speaker.
sleep 3  # the explanation's tone has played
printf 'Read this aloud, please.' | xclip -selection clipboard
parec -d speaker.monitor --raw --format=s16le --rate=16000 --channels=1 --latency-msec=10 >"$work/played.raw" &
rec=$!
focus_target
tray_menu 3  # "Read clipboard aloud" (after "Copy last dictation")
last_input() { received /audio/speech 'r["json"]["input"]' | tail -1; }
wait_for 10 '[ "$(last_input)" = "Read this aloud, please." ]'
sleep 2
kill "$rec"; wait "$rec" 2>/dev/null
sox -t raw -r 16000 -e signed -b 16 -c 1 "$work/played.raw" "$work/played.wav" silence 1 0.01 1% -1 0.3 1%
played=$(soxi -D "$work/played.wav")
pitch=$(sox "$work/played.wav" -n stat 2>&1 | awk '/Rough   frequency/ {print $3}')
echo "played ${played} s of sound at about ${pitch} Hz"
check "the clipboard went to the voice engine" test "$(received /audio/speech 'r["json"]["input"]' | tail -1)" = "Read this aloud, please."
check "its tone was heard (0.6 s at 440 Hz; got ${played} s at ${pitch} Hz)" \
  awk -v s="$played" -v f="${pitch:-0}" 'BEGIN { exit !(s > 0.45 && s < 0.8 && f > 400 && f < 480) }'

# 4. A failing speech engine: the failure names it, the recording stays for retry.
script '{"path": "/audio/transcriptions", "status": 503, "body": "{\"error\": {\"message\": \"model is loading\"}}", "count": 1}'
focus_target
dictate "$work/hello.wav"
failure="Speech engine at $base answered HTTP 503: model is loading"
wait_until 30 logged "$failure"
check "the agent shows the engine's failure" logged "$failure"
check "the recording stays in the retry store" test "$(pending_count)" -eq 1

finish
