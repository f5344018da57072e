#!/usr/bin/env bash
# End to end on a wlroots compositor, inside scripts/headless-session: a headless sway,
# the real agent and the local service, a GTK 3 text field on Wayland. The dictation key
# comes through sway's key bindings and as direct key commands (larkspire-key),
# the microphone hears synthetic speech, and the text must arrive in the field through the
# agent's virtual keyboard, with the clipboard set through data control; a screen-aware
# request carries the window's image, taken through screencopy.
#   wayland-e2e.sh BUILD_DIR SOURCE_DIR
# Exits 77 (skipped) when sway or its tools are not installed.
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
for tool in sway swaymsg wl-paste wl-copy wtype; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

# sway refuses to run as root: under root it runs as nobody, in a folder nobody can reach
# (the session's root folder is private to root). The agent and the target stay root and
# reach its socket by path.
wl=$(mktemp -d /tmp/larkspire-sway.XXXXXX)
wayland_cleanup() { e2e_cleanup; rm -rf "$wl"; }
trap wayland_cleanup EXIT
mkdir -p "$wl/xdg" "$wl/home" "$wl/keys"
as_sway_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R 65534:65534 "$wl"
  as_sway_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
chmod 700 "$wl/xdg"
# No Xwayland: the agent's Qt windows are Wayland windows too, the harder case (sway
# places and focuses them itself). With no StatusNotifierWatcher (swaybar would bring one)
# the agent opens its status window instead of a tray icon; sway tiles it beside the field.
# The key bindings a user adds for the agent, except that sway (running as nobody) hands
# each command to a relay of the agent's user instead of running larkspire itself.
cat >"$wl/sway.cfg" <<SWAY
output HEADLESS-1 resolution 1280x720
default_border none
xwayland disable
bindsym --no-repeat Alt_R exec echo press >>$wl/keys/commands
bindsym --release Alt_R exec echo release >>$wl/keys/commands
bindsym --no-repeat Ctrl+Alt_R exec echo press --control >>$wl/keys/commands
bindsym --release Ctrl+Alt_R exec echo release >>$wl/keys/commands
SWAY
"${as_sway_user[@]}" \
  env -i PATH="$PATH" HOME="$wl/home" XDG_RUNTIME_DIR="$wl/xdg" WLR_BACKENDS=headless \
  WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$wl/sway.cfg" >"$work/sway.log" 2>&1 &
e2e_pids+=($!)
wait_until 15 test -S "$wl/xdg/wayland-1" || { echo "sway did not start"; cat "$work/sway.log"; exit 1; }
export WAYLAND_DISPLAY="$wl/xdg/wayland-1"
SWAYSOCK=$(ls "$wl"/xdg/sway-ipc.*.sock)
export SWAYSOCK

# With no display at all: a key command must not need one (creating a Qt application
# there would abort).
key() { env -u DISPLAY -u WAYLAND_DISPLAY "$BUILD_DIR/src/larkspire-key" "$@"; }
# The relay: each command line sway's bindings write becomes a key command.
mkfifo "$wl/keys/pipe"
tail -n0 -F "$wl/keys/commands" 2>/dev/null >"$wl/keys/pipe" &
e2e_pids+=($!)
while read -r command; do key $command; done <"$wl/keys/pipe" &
e2e_pids+=($!)
clipboard() { wl-paste --no-newline 2>/dev/null; }
clipboard_is() { test "$(clipboard)" = "$1"; }

# 1. Without an agent a key command fails, and says so.
no_agent=$(key press 2>&1)
status=$?
check "a key command with no agent fails ($status: $no_agent)" test "$status" -ne 0
check "a key command with no agent says why" grep -q "no running agent" <<<"$no_agent"
no_agent=$(env -u DISPLAY -u WAYLAND_DISPLAY "$BUILD_DIR/src/larkspire" --key press 2>&1)
check "larkspire --key says the same ($no_agent)" grep -q "no running agent" <<<"$no_agent"

# 2. Screen-aware requests may carry a window image (consent given before). The agent
#    first: its virtual keyboard is the seat's keyboard, without which no window gets the
#    keyboard focus. Then the GTK field on Wayland, focused by sway.
mkdir -p "$XDG_CONFIG_HOME/Larkspire"
printf '[General]\nscreenAwareConsent=true\nscreenAwareEnabled=true\n' >"$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
start_service
DISPLAY= QT_QPA_PLATFORM=wayland start_agent
check "the agent chose the wlroots back end" grep -q "paste through a virtual keyboard" "$work/agent.log"
check "the agent's own window is a Wayland window (sway lists it)" \
  sh -c "swaymsg -t get_tree | grep -q '\"pid\": $agent_pid'"
GDK_BACKEND=wayland start_target
check "the target runs on Wayland (sway lists it)" sh -c "swaymsg -t get_tree | grep -q '\"pid\": $target_pid'"

# 3. The user types (a keyboard of the seat other than the agent's, with a keymap of its
#    own: the seat switches keyboards and keymaps), then holds Right Alt on that keyboard
#    while speaking: sway's bindings send press and release, and the sentence arrives
#    after the typed text, pasted with Ctrl+V.
speech bank "please call the bank tomorrow morning"
wtype "Note: "
wait_until 5 text_is "Note: "
check "typed text arrives (got: $(target_text))" text_is "Note: "
wtype -P Alt_R -s 8000 -p Alt_R &
holder=$!
check "Right Alt through sway's binding reached the agent (recording)" wait_until 10 capturing
# While the key is held the status panel shows on the layer shell, top right (a screencopy
# of its place: the dark card with white words), and the keyboard stays with the field.
panel_shown() {
  grim -g "1054,12 210x48" "$work/panel.png" 2>/dev/null &&
    test "$(convert "$work/panel.png" -colorspace gray -format '%[fx:mean<0.35]' info:)" = 1 &&
    test "$(convert "$work/panel.png" -colorspace gray -threshold 90% -format '%[fx:mean>0.02]' info:)" = 1
}
focused_pid() {
  swaymsg -t get_tree | python3 -c '
import json, sys
def walk(n):
    if n.get("focused"): print(n.get("pid")); sys.exit()
    for c in n.get("nodes", []) + n.get("floating_nodes", []): walk(c)
walk(json.load(sys.stdin))'
}
wait_until 5 panel_shown
check "the status panel shows through the layer shell (a screencopy of its place)" panel_shown
check "the keyboard focus stays in the field ($(focused_pid) is $target_pid)" test "$(focused_pid)" = "$target_pid"
grim "$BUILD_DIR/e2e-screenshots/wayland-panel.png" 2>/dev/null
paplay --latency-msec=20 -d micfeed "$work/bank.wav"
wait "$holder"
wait_until 20 text_is "Note: Please call the bank tomorrow morning."
check "press, speech and release end as text in the Wayland window (got: $(target_text))" \
  text_is "Note: Please call the bank tomorrow morning."
check "the clipboard holds the sentence, set through data control (got: $(clipboard))" \
  test "$(clipboard)" = "Please call the bank tomorrow morning."
check "the agent named the Wayland window as the target" grep -q "pasted with .* into .*gtk_target" "$work/agent.log"

# 4. Key commands given directly. A clipboard another client set is replaced by the next
#    dictation, and the agent keeps serving it to every reader, not just once.
wl-copy --foreground "from another client" &
copier=$!
wait_until 5 clipboard_is "from another client"
speech milk "remind me to buy milk and bread"
key press
key press  # a binding without --no-repeat repeats the press: one gesture still
wait_until 10 capturing
paplay --latency-msec=20 -d micfeed "$work/milk.wav"
sleep 0.3
key release
ends_with() { [[ "$(target_text)" == *"$1" ]]; }
wait_until 20 ends_with "Remind me to buy milk and bread."
check "a second dictation is appended (got: $(target_text))" \
  text_is "Note: Please call the bank tomorrow morning.Remind me to buy milk and bread."
wait "$copier" 2>/dev/null
check "the dictation replaced the other client's clipboard" test "$(clipboard)" = "Remind me to buy milk and bread."
check "the clipboard is served to a second reader too" test "$(clipboard)" = "Remind me to buy milk and bread."

# 5. Control + Right Alt through sway's bindings: a screen-aware request about the window,
#    with its image as sway shows it (sway's tree gives the place, screencopy the pixels).
drafted() { grep -q 'POST /api/contextual' "$work/service.log"; }
speech report "send the report to the team before lunch"
wtype -M ctrl -P Alt_R -s 8000 -p Alt_R -m ctrl &
holder=$!
wait_until 10 capturing
paplay --latency-msec=20 -d micfeed "$work/report.wav"
wait "$holder"
wait_until 30 drafted
check "the key with --control made a screen-aware request" drafted
curl -s "$service_url/__admin/contextual" >"$work/contextual.json"
python3 -c "import json,sys,base64; sys.stdout.buffer.write(base64.b64decode(json.load(open(sys.argv[1]))['request'].get('windowImage','')))" \
  "$work/contextual.json" >"$work/window.jpg"
image=$(identify -format '%m %w %h' "$work/window.jpg" 2>/dev/null)
window=$(swaymsg -t get_tree | python3 -c "
import json,sys
def walk(n):
    if n.get('pid') == $target_pid: print(n['window_rect']['width'], n['window_rect']['height'])
    for c in n.get('nodes', []) + n.get('floating_nodes', []): walk(c)
walk(json.load(sys.stdin))")
check "the request carries a JPEG of the window's size ($window) (got: ${image:-none})" test "$image" = "JPEG $window"
# The field and its window are drawn: not one flat colour.
check "the window image shows the window" \
  test "$(identify -format '%[fx:standard_deviation>0.01]' "$work/window.jpg" 2>/dev/null)" = 1
check "the request names the Wayland window's application" \
  grep -q '"application": *"gtk_target"' <(python3 -m json.tool "$work/contextual.json" 2>/dev/null | sed 's/\\"/"/g')

# 6. A desktop that hands keys and paste only through its portal (GNOME, KDE Plasma), here
#    by the user's choice of the portal: a fake portal on the session bus stands in for the
#    desktop. Its shortcut's press and release drive a dictation, the paste chord goes to
#    its keyboard, and the approval's restore token is kept and handed back at the next
#    start, so that the desktop does not ask again.
kill "$agent_pid"
wait "$agent_pid" 2>/dev/null
/usr/bin/python3 "$SOURCE_DIR/tests/support/fake-portal.py" --log "$work/portal.log" >"$work/portal.out" 2>&1 &
e2e_pids+=($!)
wait_until 10 grep -q "fake portal ready" "$work/portal.out" || { echo "the fake portal did not start"; cat "$work/portal.out"; }
portal() {
  gdbus call --session --dest org.freedesktop.portal.Desktop --object-path /org/freedesktop/portal/desktop \
    --method "org.larkspire.FakePortal.$1" "$2" >/dev/null
}
portal_calls() { grep -c "\"method\": \"$1\"" "$work/portal.log" 2>/dev/null; }
python3 -c 'import json,sys; c=json.load(open(sys.argv[1])); c.update(key_source="portal", paste_through="portal"); json.dump(c, open(sys.argv[1], "w"))' \
  "$HOME/.vantrel/config.json"
DISPLAY= QT_QPA_PLATFORM=wayland start_agent
wait_until 20 grep -q "the desktop assigned" "$work/agent.log"
check "the agent chose the portal's shortcuts and keyboard" \
  grep -q "keys from the desktop portal's global shortcuts, paste through the desktop portal's remote desktop" "$work/agent.log"
check "the desktop's shortcut was bound" grep -q "the desktop assigned CTRL+ALT+D to dictation" "$work/agent.log"
wait_until 10 grep -q "remoteDesktopRestoreToken=token-1" "$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
check "the approval's restore token is stored" grep -q "remoteDesktopRestoreToken=token-1" "$XDG_CONFIG_HOME/Larkspire/Larkspire.ini"
speech plants "water the plants on the balcony"
portal Activate dictate
check "the shortcut's press starts recording" wait_until 10 capturing
paplay --latency-msec=20 -d micfeed "$work/plants.wav"
sleep 0.3
portal Deactivate dictate
paste_chord() {
  python3 -c '
import json, sys
keys = [(c["args"]["keycode"], c["args"]["state"]) for c in map(json.loads, open(sys.argv[1]))
        if c["method"] == "NotifyKeyboardKeycode"]
sys.exit(0 if keys[-4:] == [(29, 1), (47, 1), (47, 0), (29, 0)] else 1)' "$work/portal.log"
}
wait_until 20 paste_chord
check "the release pastes with Ctrl+V on the portal's keyboard" paste_chord
check "the clipboard holds the sentence (got: $(clipboard))" \
  test "$(clipboard)" = "Water the plants on the balcony."
kill "$agent_pid"
wait "$agent_pid" 2>/dev/null
DISPLAY= QT_QPA_PLATFORM=wayland start_agent
wait_for 20 '[ "$(portal_calls Start)" -ge 2 ]'
check "the next start hands the token back" \
  python3 -c 'import json,sys; s=[c for c in map(json.loads, open(sys.argv[1])) if c["method"] == "SelectDevices"]; sys.exit(s[-1]["args"]["options"].get("restore_token") != "token-1")' "$work/portal.log"

finish
