#!/usr/bin/env bash
# End to end, inside scripts/headless-session: the real agent, the local service and a
# GTK text field; the dictation key is held with XTest while the virtual microphone
# plays synthetic speech.
#   dictation-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_all
speech bank "please call the bank tomorrow morning"
speech milk "remind me to buy milk and bread"
speech plants "water the plants on the balcony"
speech report "send the report to the team before lunch"
sox -n -r 16000 -c 1 -b 16 "$work/silence.wav" trim 0 1.5
ends_with() { [[ "$(target_text)" == *"$1" ]]; }
failure_logged() { grep -q "Vantrel error: .*Recording saved at $pending_dir/" "$work/agent.log"; }

# 1. Hold, speak, release: the text arrives in the field; nothing stays pending. The
#    status panel that appears meanwhile must not take the focus from the field.
focus_target
xte 'keydown Alt_R'
sleep 0.3
panel_shown() { xdotool search --onlyvisible --name '^Larkspire status$' >/dev/null; }
check "the status panel shows while recording" panel_shown
check "the field keeps the focus while the panel shows ($(xdotool getactivewindow getwindowname))" \
  test "$(xdotool getactivewindow getwindowname)" = "e2e target"
on_other_workspace() { xdotool set_desktop 1 && sleep 0.3 && panel_shown; }
check "the panel stays in view on another workspace" on_other_workspace
xdotool set_desktop 0
focus_target
wait_until 10 capturing
paplay --latency-msec=20 -d micfeed "$work/bank.wav"
sleep 0.3
xte 'keyup Alt_R'
wait_until 20 text_is "Please call the bank tomorrow morning."
check "a held key and a spoken sentence end as text in the field (got: $(target_text))" \
  text_is "Please call the bank tomorrow morning."
check "the recovery store is empty after delivery" test "$(pending_count)" -eq 0

# 2. The service fails once: the recording stays pending with the failure shown; a retry
#    from the tray menu after the service recovers pastes it and empties the store.
admin POST '{"path":"/api/transcribe","status":500,"count":1}'
dictate "$work/milk.wav"
wait_until 20 failure_logged
check "a failed upload is reported with the saved recording's path" failure_logged
check "the failed recording stays pending" test "$(pending_count)" -eq 1
check "nothing was pasted for the failed upload" text_is "Please call the bank tomorrow morning."
focus_target
tray_menu 2  # "Retry saved recording"
wait_until 20 ends_with "Remind me to buy milk and bread."
check "the retry pastes the saved recording (got: $(target_text))" ends_with "Remind me to buy milk and bread."
check "the recovery store is empty after the retry" test "$(pending_count)" -eq 0

# 3. Silence is archived and never sent.
before=$(transcribe_requests)
dictate "$work/silence.wav"
archived() { test "$(find "$silent_dir" -type f 2>/dev/null | wc -l)" -eq 1; }
wait_until 10 archived
check "silent audio is archived in Silent Recordings" archived
check "silent audio is not sent to the service" test "$(transcribe_requests)" -eq "$before"
check "nothing is pending after silent audio" test "$(pending_count)" -eq 0

# 4. A double tap locks recording hands-free; the next press transcribes.
focus_target
xte 'keydown Alt_R' 'usleep 100000' 'keyup Alt_R' 'usleep 150000' 'keydown Alt_R' 'usleep 100000' 'keyup Alt_R'
sleep 0.3
check "a double tap leaves a recording running" test "$(pending_count)" -eq 1
paplay --latency-msec=20 -d micfeed "$work/plants.wav"
sleep 0.3
focus_target
xte 'keydown Alt_R' 'usleep 100000' 'keyup Alt_R'
wait_until 20 ends_with "Water the plants on the balcony."
check "the next press after a double tap transcribes the whole recording (got: $(target_text))" \
  ends_with "Water the plants on the balcony."
check "the recovery store is empty at the end" test "$(pending_count)" -eq 0

finish
