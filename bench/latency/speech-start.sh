#!/usr/bin/env bash
# How much speech from the instant of key-down is missing from the recording, with both
# cores busy: the virtual microphone starts a marker (a 0.5 s chirp) as the dictation key
# goes down, and the marker's start is found in the WAV the agent uploaded (kept pending
# by a failing service). Reference, in the same run: a bare PulseAudio client (parecord)
# started at the same instant. Goal: at most 30 ms lost, median and worst. Each line also
# gives where the marker begins in the recording: a positive time is the margin by which
# the recording was ahead of the marker (whose own start takes paplay's latency).
#   scripts/headless-session -- bench/latency/speech-start.sh BUILD_DIR [PRESSES]
set -u
BUILD_DIR="$(cd "$1" && pwd)" SOURCE_DIR="$(cd "$(dirname "$0")/../.." && pwd)"
presses="${2:-20}"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_all
sox -n -r 48000 -c 1 -b 16 "$work/marker.wav" synth 0.5 sine 300-3300 vol 0.5
sox -n -r 16000 -c 1 -b 16 "$work/marker16.wav" synth 0.5 sine 300-3300 vol 0.5
for _ in 1 2; do
  (while :; do :; done) &
  e2e_pids+=($!)
done
onset() { "$BUILD_DIR/bench/latency/marker_onset" "$work/marker16.wav" "$1" | cut -d' ' -f1; }
# Milliseconds of the marker missing from a recording whose marker starts at $1 ms.
lost() { awk -v at="$1" 'BEGIN { printf "%.1f", at < 0 ? -at : 0 }'; }
failed() { grep -c "Vantrel error: .*Recording saved at" "$work/agent.log"; }

agent_lost=() bare_lost=()
for i in $(seq "$presses"); do
  # The agent: the service refuses the upload, so the uploaded WAV stays pending.
  admin POST '{"path":"/api/transcribe","status":500,"count":1}'
  before=$(failed)
  focus_target
  xte 'keydown Alt_R' && paplay --latency-msec=20 -d micfeed "$work/marker.wav" &
  sleep 1.2
  xte 'keyup Alt_R'
  wait_for 20 '[ "$(failed)" -gt "$before" ]'
  wav=$(ls -t "$pending_dir"/*.wav 2>/dev/null | head -1)
  at=$(onset "$wav")
  rm -f "$pending_dir"/*
  # The reference: a bare client opening its stream at the same instant.
  parecord --latency-msec=20 -d mic --rate=16000 --channels=1 --format=s16le \
    --file-format=wav "$work/bare.wav" & recorder=$!
  paplay --latency-msec=20 -d micfeed "$work/marker.wav"
  sleep 0.3
  kill -INT "$recorder"; wait "$recorder" 2>/dev/null
  bare=$(onset "$work/bare.wav")
  agent_lost+=("$(lost "$at")") bare_lost+=("$(lost "$bare")")
  printf 'press %2d: agent %6s ms lost (marker at %7s ms), bare client %6s ms lost (at %7s ms)\n' \
    "$i" "${agent_lost[-1]}" "$at" "${bare_lost[-1]}" "$bare"
  sleep 0.5
done
stats() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {printf "median %.1f ms, worst %.1f ms", v[int((NR+1)/2)], v[NR]}'; }
echo "speech lost from key-down, $presses presses, both cores busy:"
echo "  agent:       $(stats "${agent_lost[@]}")   goal: <= 30 ms"
echo "  bare client: $(stats "${bare_lost[@]}")   (reference)"
