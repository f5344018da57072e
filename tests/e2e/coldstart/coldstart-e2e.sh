#!/usr/bin/env bash
# End to end, inside scripts/headless-session: five cold starts of the agent with both
# cores busy; after each, the very first dictation must be heard and pasted.
#   coldstart-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_service
start_target
speech bank "please call the bank tomorrow morning"
# Both cores busy for the whole run, as on a machine compiling in the background.
for _ in 1 2; do
  (while :; do :; done) &
  e2e_pids+=($!)
done

for run in 1 2 3 4 5; do
  before=$(transcribe_requests)
  start_agent
  focus_target
  dictate "$work/bank.wav"
  wait_until 30 text_is "Please call the bank tomorrow morning."
  check "cold start $run: the first dictation is heard (got: $(target_text))" \
    text_is "Please call the bank tomorrow morning."
  check "cold start $run: it was sent, not archived as silence" \
    test "$(transcribe_requests)" -gt "$before"
  text_is "Please call the bank tomorrow morning." || { echo "--- agent log of cold start $run"; cat "$work/agent.log"; }
  kill "$agent_pid"
  wait "$agent_pid" 2>/dev/null
  focus_target
  xdotool key ctrl+a BackSpace
  wait_until 5 text_is ""
  rm -rf "$silent_dir"
done
finish
