#!/usr/bin/env bash
# Real browsers inside scripts/headless-session: Firefox ESR, where a lone Alt tap opens
# the menu bar, and Chromium; a dictation into a text area, read back by select-all and
# copy.
#   browsers-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"
source "$SOURCE_DIR/tests/e2e/apps/apps-lib.sh"
require firefox-esr chromium

start_service
speech bank "please call the bank tomorrow morning"
speech milk "remind me to buy milk and bread"
# A page from a file: Firefox leaves a data: URL given on its command line unloaded.
echo '<title>e2e page</title><textarea style="width:95%;height:80vh" autofocus></textarea>' >"$work/page.html"
page="file://$work/page.html"
# A click in the middle of the window puts the caret in the text area.
click_into_page() {
  local x y w h
  eval "$(xdotool getwindowgeometry --shell "$app_window")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
  sleep 0.3
}

profile="$work/firefox-profile"
mkdir -p "$profile"
cat >"$profile/user.js" <<'PREFS'
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
PREFS
if launch firefox-esr 60 env MOZ_DISABLE_CONTENT_SANDBOX=1 firefox-esr --no-remote --profile "$profile" "$page"; then
  wait_until 30 sh -c "xdotool getwindowname $app_window | grep -q 'e2e page'"
  sleep 1
  click_into_page
  # Without the agent, the lone Alt tap this suite guards against opens Firefox's menu
  # bar: the paste chord that follows goes to the menu, not the text area.
  xte 'keydown Alt_R' 'usleep 700000' 'keyup Alt_R'
  sleep 0.5
  printf 'control' | xclip -selection clipboard -i >/dev/null 2>&1 &
  sleep 0.2
  xte 'keydown Control_L' 'key v' 'keyup Control_L'
  sleep 0.5
  lone_alt_text=$(copied_text)
  check "without the agent, a lone Alt makes Firefox lose a Ctrl+V (the text area held: $(printf '%q' "$lone_alt_text"))" \
    test "$lone_alt_text" != control
  xte 'key Escape' 'usleep 200000' 'key Escape'
  click_into_page
  xte 'keydown Control_L' 'key a' 'keyup Control_L' 'key BackSpace'

  start_agent
  gui_case firefox-esr "$work/bank.wav" "Ctrl+V" "Please call the bank tomorrow morning."
  close_app
else
  start_agent
fi

if launch chromium 60 chromium --no-sandbox --user-data-dir="$work/chromium" --no-first-run \
  --no-default-browser-check --disable-gpu --password-store=basic "$page"; then
  wait_until 30 sh -c "xdotool getwindowname $app_window | grep -q 'e2e page'"
  sleep 1
  click_into_page
  gui_case chromium "$work/milk.wav" "Ctrl+V" "Remind me to buy milk and bread."
  close_app
fi

finish
