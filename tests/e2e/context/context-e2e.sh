#!/usr/bin/env bash
# End to end, inside scripts/headless-session: Control + Right Alt over a GTK window with a
# message, notes holding an API key, a password field and 300 labels; the virtual
# microphone speaks the instruction, the local service drafts from the window's context and
# the draft arrives in the field that had the focus.
#   context-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
grammar="$SOURCE_DIR/tests/e2e/context/instructions.gram"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

# Consent was given before, text only.
mkdir -p "$XDG_CONFIG_HOME/Larkspire"
printf '[General]\nscreenAwareConsent=true\nscreenAwareEnabled=false\n' >"$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"

start_service
start_target --title "Re: dinner on Friday" --message "From: Ana Lopez. Can you come to dinner on Friday?" \
  --notes $'api_key = abcdef123456\nBring the salad.' --secret "hunter2-horse-battery" --labels 300
start_agent
speech six "reply that i will be there at six"
speech salad "write that the salad is ready"
speech way "answer that i am on my way"

last_request() { curl -s "$service_url/__admin/contextual" | python3 -c "import json,sys; print(json.load(sys.stdin)['request'][sys.argv[1]])" "$1"; }
drafts() { grep -c 'POST /api/contextual' "$work/service.log"; }
recording() { test "$(pending_count)" -eq 1; }
logged() { grep -qF "$1" "$work/agent.log"; }
ends_with() { [[ "$(target_text)" == *"$1" ]]; }
# Control + Right Alt held while the microphone speaks FILE; the speech starts once the
# agent records (it reads the window first).
ask() {
  xte 'keydown Control_L' 'keydown Alt_R'
  wait_until 10 recording
  wait_until 10 capturing
  paplay --latency-msec=20 -d micfeed "$1"
  sleep 0.3
  xte 'keyup Alt_R' 'keyup Control_L'
}

# 1. The draft arrives in the focused field; the service got the window's text with the
#    key redacted and nothing of the password field.
focus_target
ask "$work/six.wav"
wait_until 30 text_is "I will be there at six."
check "the spoken instruction's draft is pasted into the focused field (got: $(target_text))" \
  text_is "I will be there at six."
check "the request names the window" test "$(last_request windowTitle)" = "Re: dinner on Friday"
check "the request carries the window's message" \
  grep -q "From: Ana Lopez. Can you come to dinner on Friday?" <(last_request windowText)
check "the key in the notes arrives as [REDACTED]" \
  grep -qx "\[REDACTED\]" <(last_request windowText)
check "the key itself never leaves the agent" bash -c "! curl -s '$service_url/__admin/contextual' | grep -q abcdef123456"
check "nothing of the password field is sent" bash -c "! curl -s '$service_url/__admin/contextual' | grep -q -e hunter2 -e '●'"
check "the labels are sent" test "$(last_request windowText | grep -c '^Item ')" -gt 200
check "the request carries no image while images are off" \
  bash -c "! curl -s '$service_url/__admin/contextual' | grep -q windowImage"
check "the recovery store is empty after the paste" test "$(pending_count)" -eq 0

# 2. With images on (from the tray menu), one JPEG of at most 1800 pixels a side goes along.
focus_target
tray_menu 4  # "Include active-window image…" (after "Copy last dictation")
wait_until 5 grep -qs 'screenAwareEnabled=true' "$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
check "the tray menu turns images on" grep -qs 'screenAwareEnabled=true' "$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
focus_target
before=$(drafts)
ask "$work/salad.wav"
wait_for 30 '[ "$(drafts)" -gt "$before" ]'
# Focusing the window again after the tray menu may select the entry's text (GTK does so
# when the window regains the focus): the draft then replaces it, else follows it.
wait_until 10 ends_with "The salad is ready."
curl -s "$service_url/__admin/contextual" |
  python3 -c "import json,sys,base64; sys.stdout.buffer.write(base64.b64decode(json.load(sys.stdin)['request']['windowImage']))" >"$work/window.jpg"
size=$(identify -format '%m %w %h' "$work/window.jpg" 2>/dev/null)
read -r format width height <<<"${size:-none 0 0}"
echo "window image: $size, $(stat -c %s "$work/window.jpg") bytes"
check "the image is a JPEG (got: $size)" test "$format" = JPEG
check "no side of the image is longer than 1800 pixels" test "$width" -le 1800 -a "$height" -le 1800 -a "$width" -gt 0
check "the second draft arrives at the cursor (got: $(target_text))" \
  ends_with "The salad is ready."

# 3. A plain dictation becomes screen-aware when Control joins the held key.
focus_target
before=$(drafts)
xte 'keydown Alt_R'
wait_until 10 recording
xte 'keydown Control_L'
paplay --latency-msec=20 -d micfeed "$work/way.wav"
sleep 0.3
xte 'keyup Alt_R' 'keyup Control_L'
wait_for 30 '[ "$(drafts)" -gt "$before" ]'
check "Control joining a held dictation sends a contextual draft" test "$(drafts)" -gt "$before"
wait_until 10 ends_with "I am on my way."
check "the promoted request's draft is pasted (got: $(target_text))" ends_with "I am on my way."

# 4. A failed draft leaves the recording pending with the failure text.
admin POST '{"path":"/api/contextual","status":503,"body":{"error":"Drafting is down"},"count":1}'
focus_target
ask "$work/six.wav"
failed_text="Vantrel error: Drafting is down"
wait_until 30 logged "$failed_text"
check "the failure is shown with the service's text" logged "$failed_text"
check "the failure text points at the saved recording" \
  logged "Your recording is saved. Use “Retry saved recording” to transcribe it normally."
check "the failed request's recording stays pending" test "$(pending_count)" -eq 1

# 5. An excluded application is refused before anything is recorded or read.
"$BUILD_DIR/tests/integration/input/gtk_target" --title "Vault" --wmclass Passwords >"$work/vault.out" 2>/dev/null &
e2e_pids+=($!)
wait_until 15 grep -qs '^ready' "$work/vault.out"
before=$(pending_count)
xte 'keydown Control_L' 'keydown Alt_R' 'usleep 500000' 'keyup Alt_R' 'keyup Control_L'
wait_until 10 logged "Context capture is disabled for Passwords"
check "an excluded application is refused by name" logged "Vantrel error: Context capture is disabled for Passwords"
check "nothing was recorded for it" test "$(pending_count)" -eq "$before"

finish
