#!/usr/bin/env bash
# From choosing "Read clipboard aloud" to the first sound on the virtual speaker, with the
# local service, for a short text and a long one (a few minutes of speech). Reference, in
# the same run: the service's own time for the same text, a request made straight to
# /api/speech and timed to its last byte (the whole synthesis). Goal: first sound at most
# 150 ms after that time, median and worst; exits non-zero when missed.
#   scripts/headless-session -- bench/readaloud/first-sound.sh BUILD_DIR [RUNS]
set -u
BUILD_DIR="$(cd "$1" && pwd)" SOURCE_DIR="$(cd "$(dirname "$0")/../.." && pwd)"
runs="${2:-10}"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_all
short="Larkspire reads the clipboard aloud in a clear and steady voice."
paragraph="The committee met on a grey Tuesday morning to read the report aloud, page by page, \
while the rain kept falling on the long windows of the old library. Nobody hurried, and every \
question was written down so that the answers could follow in the next meeting."
long=""
for _ in $(seq 12); do long+="$paragraph "; done

# The service alone: milliseconds from sending the text to the last byte of its audio.
service_ms() { speech_ms "$work/direct.wav" "$1"; }

# The virtual speaker's monitor, recorded as 16 kHz mono from before the choice.
rec_start() {
  parec -d speaker.monitor --raw --format=s16le --rate=16000 --channels=1 --latency-msec=10 \
    >"$work/rec.raw" &
  rec_pid=$!
  wait_until 5 test -s "$work/rec.raw"
}
heard() {  # true once the recording holds sound above 1 % of full scale
  sox -t raw -r 16000 -e signed -b 16 -c 1 "$work/rec.raw" -n stat 2>&1 |
    awk '/Maximum amplitude/ { exit !($3 > 0.01) }'
}
# Stops the recording; prints when its first sound played (ns), to within the monitor's
# 10 ms latency: the recording's first sample sounded its length before its end.
rec_stop() {
  local end; end=$(date +%s%N)
  kill "$rec_pid"; wait "$rec_pid" 2>/dev/null
  sox -t raw -r 16000 -e signed -b 16 -c 1 "$work/rec.raw" "$work/rec.wav"
  sox "$work/rec.wav" "$work/onset.wav" silence 1 0.01 1%
  awk -v e="$end" -v a="$(soxi -D "$work/rec.wav")" -v b="$(soxi -D "$work/onset.wav")" \
    'BEGIN { printf "%.0f", e - b * 1e9 }'
}

# Chooses the Nth enabled item of the tray menu, opening the menu again when a busy
# machine missed the first click.
choose_item() {
  for _ in 1 2 3; do
    popups_before=$(agent_popups)
    tray_click
    wait_until 5 popup_opened && break
    xte 'key Escape'
  done
  for _ in $(seq "$1"); do xte 'key Down'; sleep 0.05; done
  tray_chosen_at=$(date +%s%N)
  xte 'key Return'
}

service_ms "$short" >/dev/null  # the first synthesis loads the voice
misses=0
measure() {  # measure NAME TEXT
  local name=$1 text=$2 diffs=() own seconds first chosen
  printf '%s' "$text" | xclip -selection clipboard
  own=$(service_ms "$text")
  # The service sends its audio as it is made: the header states no length.
  sox --ignore-length "$work/direct.wav" "$work/direct-sized.wav"
  seconds=$(soxi -D "$work/direct-sized.wav")
  echo "$name text: ${#text} characters, $seconds s of speech"
  printf '  %-4s %14s %12s %12s   %s\n' run first_sound_ms service_ms difference load
  for i in $(seq "$runs"); do
    own=$(service_ms "$text")
    rec_start
    focus_target
    choose_item 2  # "Read clipboard aloud"
    chosen=$tray_chosen_at
    wait_until 30 heard || { echo "  no sound within 30 s"; tail -5 "$work/agent.log"; }
    if [ "$name" = long ]; then
      choose_item 2  # "Stop reading"
      sleep 0.5
    else
      sleep "$(awk -v s="$seconds" 'BEGIN { print s + 0.5 }')"  # it ends by itself
    fi
    first=$(( ($(rec_stop) - chosen) / 1000000 ))
    diffs+=($((first - own)))
    printf '  %-4s %14s %12s %12s   %s\n' "$i" "$first" "$own" "$((first - own))" \
      "$(uptime | sed 's/.*load average: //')"
    sleep 1.5  # the panel hides
  done
  local stats
  stats=$(printf '%s\n' "${diffs[@]}" | sort -n |
    awk '{v[NR]=$1} END {printf "%d %d", v[int((NR+1)/2)], v[NR]}')
  read -r median worst <<<"$stats"
  echo "  $name: first sound minus the service's time: median $median ms, worst $worst ms"
  ((worst <= 150)) || misses=$((misses + 1))
}
measure short "$short"
measure long "$long"
echo "goal: first sound <= synthesis + 150 ms (median and worst, both texts): $( ((misses)) && echo MISSED || echo met)"
exit $((misses > 0))
