#!/usr/bin/env bash
# End to end, inside scripts/headless-session: a second virtual microphone plugged in
# while the agent runs is listed in More → Microphone without a restart; chosen there, a
# dictation records from it (its tone, not the first microphone's, in the WAV); unplugged,
# the next dictation records from the system default and the panel says so.
#   microphone-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_all
sox -n -r 48000 -c 1 -b 16 "$work/low.wav" synth 1.5 sine 300 vol 0.5
sox -n -r 48000 -c 1 -b 16 "$work/high.wav" synth 1.5 sine 1200 vol 0.5
ini="$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
panel_has() { "$BUILD_DIR/tests/e2e/panel_text" "$agent_pid" | grep -qxF "$1"; }
failed() { grep -c "Vantrel error: .*Recording saved at" "$work/agent.log"; }
# Holds the key while the first microphone hears a 300 Hz tone and the second 1200 Hz;
# the service refuses the upload, so the WAV stays pending: $work/frequency gets its rough
# frequency, and $work/said whether the panel showed $1 while recording.
record_tones() {
  local before wav
  admin POST '{"path":"/api/transcribe","status":500,"count":1}'
  before=$(failed)
  focus_target
  xte 'keydown Alt_R'
  wait_until 10 capturing
  : >"$work/said"
  [ -n "${1:-}" ] && wait_until 5 panel_has "label $1" && echo yes >"$work/said"
  paplay -d micfeed "$work/low.wav" & local low=$!
  paplay -d micfeed2 "$work/high.wav" 2>/dev/null & local high=$!
  wait "$low" "$high" 2>/dev/null
  xte 'keyup Alt_R'
  wait_for 20 '[ "$(failed)" -gt "$before" ]'
  wav=$(ls -t "$pending_dir"/*.wav 2>/dev/null | head -1)
  sox "$wav" -n stat 2>&1 | awk '/Rough/ {printf "%d", $3}' >"$work/frequency"
  rm -f "$pending_dir"/*
}
near() { (($1 > $2 - 60 && $1 < $2 + 60)); }

# 1. Plugged in while the agent runs.
sink=$(pactl load-module module-null-sink sink_name=micfeed2 rate=48000 channels=1 \
  sink_properties=device.description=MicFeed2)
source=$(pactl load-module module-remap-source source_name=mic2 master=micfeed2.monitor \
  source_properties=device.description=Headset)
sleep 11  # the list is asked for every 10 s

# 2. Chosen in the tray menu: More (the 6th enabled item: nothing to retry or copy yet);
#    a submenu opens on its first enabled item: Active project, then Microphone three
#    further down; in it System default, Microphone, then Headset.
popups_before=$(agent_popups)
tray_click
wait_until 10 popup_opened || echo "the agent's menu did not open"
for key in Down Down Down Down Down Down Right Down Down Down Right Down Down Return; do
  xte "key $key"; sleep 0.15
done
wait_until 5 grep -qs 'microphoneSource=mic2' "$ini"
check "More → Microphone → Headset is remembered by the device's name" grep -qs 'microphoneSource=mic2' "$ini"
record_tones
f=$(cat "$work/frequency")
check "the dictation records from the chosen microphone (rough frequency $f Hz)" near "$f" 1200

# 3. Unplugged: the system default, and the panel says so.
pactl unload-module "$source"; pactl unload-module "$sink"
sleep 11
record_tones "Chosen microphone not found · listening with the system default"
f=$(cat "$work/frequency")
check "unplugged, the dictation records from the system default (rough frequency $f Hz)" near "$f" 300
check "the panel said that the chosen microphone was not found" test -s "$work/said"
finish
