#!/usr/bin/env bash
# LibreOffice Writer (GTK 3) inside scripts/headless-session: a dictation into a new
# document, read back by select-all and copy.
#   office-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"
source "$SOURCE_DIR/tests/e2e/apps/apps-lib.sh"
require soffice

start_service
start_agent
speech report "send the report to the team before lunch"

# A fresh profile without the first-start tip dialog (it would take the focus).
mkdir -p "$work/lo/user"
cat >"$work/lo/user/registrymodifications.xcu" <<'XCU'
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
XCU
if launch writer 90 env SAL_USE_VCLPLUGIN=gtk3 soffice --writer --norestore --nologo \
  "-env:UserInstallation=file://$work/lo"; then
  wait_until 60 sh -c "xdotool getwindowname \$(xdotool getactivewindow) | grep -q 'Writer'"
  sleep 2
  app_window=$(active_window_of "$app_pid")
  window_pid_of_app
  gui_case writer "$work/report.wav" "Ctrl+V" "Send the report to the team before lunch."
  close_app
fi

finish
