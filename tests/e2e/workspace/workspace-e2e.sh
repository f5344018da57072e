#!/usr/bin/env bash
# End to end, inside scripts/headless-session: the workspace window against the local
# service. A signed-out agent opens it on a later launch (resident memory measured before,
# with and after it); the first signed-in start opens "/settings" and a later one "/app";
# a link to another host goes to the browser and the window stays; a "larkspire:" URL
# given to a second launch reaches the running agent and opens the desktop's microphone
# settings, and an agent started by such a URL handles it; the service hears the permission
# report as the desktop grants it; through a non-loopback host name the
# page receives the session, on the loopback origin (with its port) it does not.
#   workspace-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

# Chromium refuses to run as root with its sandbox; there is no GPU under Xvfb.
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
# A GNOME desktop whose settings program and browser write down what they were asked.
bin="$work/bin"
mkdir -p "$bin" "$XDG_DATA_HOME/applications"
for tool in gnome-control-center browser; do
  printf '#!/bin/sh\necho "$*" >>"%s/%s.calls"\n' "$work" "$tool" >"$bin/$tool"
  chmod +x "$bin/$tool"
done
export PATH="$bin:$PATH" XDG_CURRENT_DESKTOP=GNOME
# The agent's desktop entry, pointing at this build, handles the "larkspire" scheme.
sed "s|^Exec=larkspire|Exec=$BUILD_DIR/src/larkspire|" "$SOURCE_DIR/data/app.larkspire.Larkspire.desktop" \
  >"$XDG_DATA_HOME/applications/app.larkspire.Larkspire.desktop"
printf '[Desktop Entry]\nType=Application\nName=Browser\nExec=%s %%u\nMimeType=x-scheme-handler/https;\n' \
  "$bin/browser" >"$XDG_DATA_HOME/applications/e2e-browser.desktop"
xdg-mime default app.larkspire.Larkspire.desktop x-scheme-handler/larkspire
xdg-mime default e2e-browser.desktop x-scheme-handler/https
check "the desktop entry handles larkspire: URLs" \
  test "$(xdg-mime query default x-scheme-handler/larkspire)" = app.larkspire.Larkspire.desktop

calls() { cat "$work/$1.calls" 2>/dev/null; }
page_views() { grep -c "page-view $1 " "$work/service.log"; }
last_view() { grep "page-view $1 " "$work/service.log" | tail -1; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$agent_pid/status"; }
window_process() { pgrep -P "$agent_pid" -f larkspire-workspace; }
# Proportional set size of a process and all its descendants, in kB (shared pages are
# divided among the processes sharing them, so the sum is not inflated).
tree_pss() {
  local total=0 p
  for p in $(pstree -pT "$1" | grep -o '([0-9]*)' | tr -d '()'); do
    total=$((total + $(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)))
  done
  echo "$total"
}
# The last permission report the service holds, as the settings page reads it.
reported_status() {
  local token
  token=$(curl -s -X POST -H 'apikey: larkspire-dev-anon-key' -H 'Content-Type: application/json' \
    -d '{"email":"e2e@example.com","password":"e2e-secret"}' \
    "$service_url/auth/v1/token?grant_type=password" | sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
  curl -s -H "Authorization: Bearer $token" "$service_url/api/native-status"
}
workspace_window() { xdotool search --onlyvisible --name '^Larkspire$' | head -1; }
stop_agent() { kill "$agent_pid"; wait "$agent_pid" 2>/dev/null; }

start_service
config="$HOME/.vantrel/config.json"
signed_in_config=$(cat "$config")

# Signed out (the configuration has no password): only the sign-in window.
echo "{\"api_url\": \"$service_url\"}" >"$config"
"$BUILD_DIR/src/larkspire" >"$work/agent0.log" 2>&1 &
e2e_pids+=($!)
agent_pid=$!
wait_until 20 xdotool search --onlyvisible --name '^Sign in to Larkspire$' >/dev/null
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name '^Sign in to Larkspire$')" \
  key --clearmodifiers alt+F4
sleep 3
idle=$(rss)
# With no window visible, a later launch without a URL shows the workspace ("/app").
"$BUILD_DIR/src/larkspire"
wait_until 30 grep -q 'page-view /app ' "$work/service.log"
check "a later launch without a URL opens the workspace at /app" test "$(page_views /app)" -ge 1
sleep 2
open=$(rss)
check "the window runs in a process of its own" test -n "$(window_process)"
window_pid=$(window_process)
window_tree=$(tree_pss "$window_pid")
xdotool windowactivate --sync "$(workspace_window)" key --clearmodifiers alt+F4
wait_for 10 '[ -z "$(workspace_window)" ]'
wait_for 10 '[ -z "$(window_process)" ]'
check "closing the window ends its process" test -z "$(window_process)"
sleep 2
closed=$(rss)
echo "resident memory of the agent: idle $idle kB, workspace open $open kB (the window's processes: $window_tree kB proportional set size), after closing $closed kB"
stop_agent

# Signed in on the loopback origin: the first start opens "/settings".
echo "$signed_in_config" >"$config"
start_agent
wait_until 30 grep -q 'page-view /settings ' "$work/service.log"
check "the first signed-in start opens the workspace at /settings" test "$(page_views /settings)" -eq 1
check "on the loopback origin with its port the page gets no session ($(last_view /settings))" \
  grep -q 'page-view /settings who=""' "$work/service.log"
wait_until 15 grep -q 'POST /api/native-status 200' "$work/service.log"
check "the service received the permission report" grep -q 'POST /api/native-status 200' "$work/service.log"

# The window and its frame lie inside the work area (the screen less the tray's panel).
window=$(workspace_window)
frame_inside_workarea() {  # xwininfo, not xdotool: xdotool counts the frame twice
  local x y w h left right top bottom X Y W H
  read -r x y w h < <(xprop -root _NET_WORKAREA | tr -d ',' | awk '{print $3, $4, $5, $6}')
  read -r left right top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS | tr -d ',' | awk '{print $3, $4, $5, $6}')
  read -r X Y W H < <(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
  X=$((X - ${left:-0})) Y=$((Y - ${top:-0})) W=$((W + ${left:-0} + ${right:-0})) H=$((H + ${top:-0} + ${bottom:-0}))
  frame="frame $X,$Y ${W}x$H in $x,$y ${w}x$h"
  ((X >= x && Y >= y && X + W <= x + w && Y + H <= y + h))
}
wait_until 3 frame_inside_workarea
check "the workspace window lies inside the work area ($frame)" frame_inside_workarea
import -window root "$BUILD_DIR/e2e-screenshots/workspace-window.png" 2>/dev/null

# A link to another host (the page's "Help", top left) goes to the browser.
pages_before=$(grep -c 'GET /[a-z]* ' "$work/service.log")
xdotool windowactivate --sync "$window" mousemove --window "$window" 38 21 click 1
wait_until 10 grep -q 'https://larkspire.example/help' "$work/browser.calls"
check "a link to another host opens in the browser ($(calls browser))" \
  grep -q 'https://larkspire.example/help' "$work/browser.calls"
sleep 1
check "the window stays on its page" test "$(workspace_window)" = "$window"
check "and loads no other page" test "$(grep -c 'GET /[a-z]* ' "$work/service.log")" -eq "$pages_before"
# The same link asking for a new window (a middle click) goes the same way.
xdotool windowactivate --sync "$window" mousemove --window "$window" 38 21 click 2
wait_for 10 '[ "$(grep -c larkspire.example/help "$work/browser.calls")" -ge 2 ]'
check "a link opened in a new window goes to the browser too ($(calls browser))" \
  test "$(grep -c 'larkspire.example/help' "$work/browser.calls")" -ge 2

# A second launch hands its URL to the running agent and ends.
timeout 10 "$BUILD_DIR/src/larkspire" 'larkspire://permissions/microphone/'
check "a launch with a larkspire: URL ends at once when the agent runs" test $? -eq 0
wait_until 10 grep -q sound "$work/gnome-control-center.calls"
check "the running agent opens the microphone settings ($(calls gnome-control-center))" \
  test "$(calls gnome-control-center)" = sound
# Agents of this session only: other end-to-end tests run theirs on other displays meanwhile.
agents_here() {
  local pid n=0
  for pid in $(pgrep -f "^$BUILD_DIR/src/larkspire( |$)"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "DISPLAY=$DISPLAY" && n=$((n + 1))
  done
  echo "$n"
}
check "one agent runs" test "$(agents_here)" -eq 1
# The headless desktop has a microphone, the accessibility bus on, the key listener
# running (from the first poll on) and X11 window images.
wait_for 15 'reported_status | grep -q "\"inputMonitoring\":true"'
check "the service holds the permissions as this desktop grants them ($(reported_status))" \
  grep -q '"accessibility":true.*"inputMonitoring":true.*"microphone":true.*"screenRecording":true' \
  <<<"$(reported_status)"
stop_agent

# A later start opens "/app"; this one is started by a URL, which it handles once up.
"$BUILD_DIR/src/larkspire" 'larkspire://permissions/accessibility/' >"$work/agent.log" 2>&1 &
e2e_pids+=($!)
agent_pid=$!
wait_for 30 '[ "$(page_views /app)" -ge 2 ]'
check "a later start opens the workspace at /app" test "$(page_views /app)" -ge 2
wait_until 10 grep -q universal-access "$work/gnome-control-center.calls"
check "an agent started by a larkspire: URL handles it ($(calls gnome-control-center | tr '\n' ' '))" \
  grep -q universal-access "$work/gnome-control-center.calls"
stop_agent

# The service under a host name that is not loopback, on the default port so that the
# hand-over's origin (scheme and host) matches the page's.
kill "${e2e_pids[0]}"
wait "${e2e_pids[0]}" 2>/dev/null
"$BUILD_DIR/server/larkspire-server" --port 80 --data "$work/service" \
  >"$work/service80.out" 2>"$work/service.log" &
e2e_pids+=($!)
wait_until 20 grep -qs 'listening on' "$work/service80.out"
sed -e 's|"api_url": "[^"]*"|"api_url": "http://larkspire.localhost", "web_origin": "http://larkspire.localhost"|' \
  <<<"$signed_in_config" >"$config"
"$BUILD_DIR/src/larkspire" >"$work/agent.log" 2>&1 &
e2e_pids+=($!)
agent_pid=$!
wait_until 30 grep -q 'page-view /app ' "$work/service.log"
check "through a non-loopback host name the page is signed in ($(last_view /app))" \
  grep -q 'page-view /app who="Signed in as e2e@example.com' "$work/service.log"
stop_agent

finish
