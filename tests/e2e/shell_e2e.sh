#!/usr/bin/env bash
# Runs inside scripts/netns-run (host namespace) under an X server (DISPLAY).
# Usage: shell_e2e.sh VELMORA_EXE HARNESS_EXE UI_DRIVER_EXE STANDIN_EXE SCREENSHOT_DIR
#   VELMORA_EXE  the program; on this machine every VM backend refuses it
#   HARNESS_EXE  the program with a scripted VM backend (reaches Running; see its source)
set -u
velmora=${1:?Velmora.exe}
harness=${2:?velmora-harness.exe}
driver=${3:?ui-driver.exe}
standin=${4:?standin.exe}
shots=${5:?screenshot folder}
src=$(cd "$(dirname "$0")/../.." && pwd)
. "$src/tests/e2e/lib.sh"
: "${DISPLAY:?needs an X server (xvfb-run)}"
mkdir -p "$shots"
private_wine_prefix
export WINEDEBUG=-all
wineserver -p 60 # one warm server for the whole run
trap 'wineserver -k >/dev/null 2>&1' EXIT

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
drv() { wine "$driver" "$@"; }
shot() { import -window root "$shots/$1.png" 2>/dev/null || echo "(no screenshot $1)"; }

# launch OUT EXE [TAIL]: runs EXE through the driver in the background; OUT receives "exit=N".
launch() {
  local out=$1; shift
  : >"$out"
  wine "$driver" run 120000 "$@" >"$out" 2>&1 &
}
# exit_of OUT SECONDS: waits for the exit line and prints the code.
exit_of() {
  local out=$1 t=$(( $2 * 10 ))
  for _ in $(seq "$t"); do
    if grep -q '^exit=' "$out"; then tr -d '\r' <"$out" | sed -n 's/^exit=//p'; return 0; fi
    sleep 0.1
  done
  echo "none"
}
# dialog CAPTION BUTTON OUT [SHOT]: reads and answers a dialog (up to 30 s).
dialog() {
  local caption=$1 button=$2 out=$3 name=${4:-}
  if [ -n "$name" ]; then
    drv dialog "$caption" 30000 0 >/dev/null 2>&1 && shot "$name"
  fi
  drv dialog "$caption" 30000 "$button" >"$out" 2>&1 || fail "no \"$caption\" dialog"
}
vmx_file() { # vmx_file PATH [extra lines...]
  local path=$1; shift
  { echo 'config.version = "8"'; echo 'Ethernet0.connectionType = "nat"'; printf '%s\n' "$@"; } >"$path"
}

# ---- 1. Every VM backend refuses: the box is read and answered, the exit code is 1060 ----------
mkdir -p "$work/novm"
vmx_file "$work/novm/Velmora.vmx"
launch "$work/novm.out" "$velmora" "$(winpath "$work/novm/Velmora.vmx")"
dialog Error 1 "$work/novm.dlg" no-vm-product
expect_in "$work/novm.dlg" '^text=VMware is not installed on this machine\.$' "not-installed text"
[ "$(exit_of "$work/novm.out" 30)" = 1060 ] || { fail "exit code 1060"; cat "$work/novm.out"; }

# ---- 2. VMX file not found: the platform's code; a path over the limit gives 206 ----------------
launch "$work/missing.out" "$velmora" "-start $(winpath "$work/novm/missing.vmx")"
dialog Error 1 "$work/missing.dlg" vmx-not-found
expect_in "$work/missing.dlg" '^text=VMX file not found\.$' "not-found text"
[ "$(exit_of "$work/missing.out" 30)" = 2 ] || { fail "exit code 2 (file not found)"; cat "$work/missing.out"; }

long=$(winpath "$work/novm/")$(printf 'x%.0s' $(seq 280)).vmx
launch "$work/long.out" "$velmora" "$long"
dialog Error 1 "$work/long.dlg"
expect_in "$work/long.dlg" '^text=VMX file not found\.$' "not-found text for a long path"
[ "$(exit_of "$work/long.out" 30)" = 206 ] || { fail "exit code 206 for a long path"; cat "$work/long.out"; }

# An empty command line (not started as a service) uses Velmora.vmx beside the program.
launch "$work/default.out" "$velmora"
dialog Error 1 "$work/default.dlg"
expect_in "$work/default.dlg" '^text=VMX file not found\.$' "default VMX file looked for"
[ "$(exit_of "$work/default.out" 30)" = 2 ] || { fail "exit code 2 without a default file"; cat "$work/default.out"; }

# Set-up not ready (1062) ends the run silently with 1062; any other code shows the platform's text.
mkdir -p "$work/setup"
vmx_file "$work/setup/Ready.vmx" 'harness.setup = "1062"'
launch "$work/notready.out" "$harness" "$(winpath "$work/setup/Ready.vmx")"
[ "$(exit_of "$work/notready.out" 30)" = 1062 ] || { fail "exit code 1062"; cat "$work/notready.out"; }
drv nodialog Error 500 || fail "a box for 1062"
vmx_file "$work/setup/Denied.vmx" 'harness.setup = "5"'
launch "$work/denied.out" "$harness" "$(winpath "$work/setup/Denied.vmx")"
dialog Error 1 "$work/denied.dlg"
expect_in "$work/denied.dlg" '^text=Access denied\.$' "the platform's text for 5"
[ "$(exit_of "$work/denied.out" 30)" = 5 ] || { fail "exit code 5"; cat "$work/denied.out"; }
# -install alone (no instance runs): ends with 0 and makes no window.
launch "$work/install.out" "$harness" "-install $(winpath "$work/setup/Ready.vmx")"
[ "$(exit_of "$work/install.out" 30)" = 0 ] || { fail "-install alone: 0"; cat "$work/install.out"; }

# ---- 3. Single instance per VMX file -------------------------------------------------------------
mkdir -p "$work/Single"
vmx_file "$work/Single/First.vmx"
first=$(winpath "$work/Single/First.vmx")
launch "$work/first.out" "$harness" "$first"
drv window TARNTRAYICON "$first" 30000 >/dev/null || fail "main window titled with the VMX path"
# The same file in other letter case, with forward slashes.
other=$(printf '%s' "$first" | tr 'A-Z\\' 'a-z/')
launch "$work/second.out" "$harness" "$other"
[ "$(exit_of "$work/second.out" 30)" = 183 ] || { fail "second instance: 183"; cat "$work/second.out"; }
[ ! -s "$work/Single/harness.log" ] || { fail "nothing posted without options"; cat "$work/Single/harness.log"; }
launch "$work/second.out" "$harness" "-stop $other"
[ "$(exit_of "$work/second.out" 30)" = 183 ] || { fail "forwarded -stop: 183"; cat "$work/second.out"; }
wait_for_line "$work/Single/harness.log" '^stop$' 10 || fail "forwarded stop reached the instance"

# ---- 4. Another VMX file while an instance runs: "Conflicting application" ----------------------
mkdir -p "$work/Other"
vmx_file "$work/Other/Other.vmx"
launch "$work/conflict.out" "$harness" "$(winpath "$work/Other/Other.vmx")"
dialog "Conflicting application" 4 "$work/conflict1.dlg" conflicting-application # Retry
expect_in "$work/conflict1.dlg" '^text=Please shut down$' "conflict text"
expect_in "$work/conflict1.dlg" '^text=.*velmora-harness\.exe$' "conflict text names the other program"
expect_in "$work/conflict1.dlg" '^text=Press Abort to abort the start of this Velmora\.$' "abort line"
expect_in "$work/conflict1.dlg" '^button=3 ' "Abort button"
dialog "Conflicting application" 3 "$work/conflict2.dlg" # Retry asked again; now Abort
[ "$(exit_of "$work/conflict.out" 30)" = 170 ] || { fail "Abort: exit code 170"; cat "$work/conflict.out"; }
# Ignore goes on: the second program runs beside the first until told to exit.
launch "$work/ignore.out" "$harness" "$(winpath "$work/Other/Other.vmx")"
dialog "Conflicting application" 5 "$work/conflict3.dlg"
drv window TARNTRAYICON "$(winpath "$work/Other/Other.vmx")" 30000 >/dev/null || fail "Ignore runs the program"
launch "$work/ignore-exit.out" "$harness" "-exit $(winpath "$work/Other/Other.vmx")"
[ "$(exit_of "$work/ignore-exit.out" 70)" = 0 ] || { fail "-exit of the ignored instance: 0"; cat "$work/ignore-exit.out"; }
[ "$(exit_of "$work/ignore.out" 30)" = 0 ] || { fail "ignored instance ended with 0"; cat "$work/ignore.out"; }

# ---- 5. The tray icon: a real right click shows the menu, a double click runs the default -----
# The browser is a stand-in that logs its command line.
reg_cmd="\"$(winpath "$work/browser.exe")\" \"%1\""
cp "$standin" "$work/browser.exe"
echo "log=$(winpath "$work/browser.log")" >"$work/browser.scenario"
wine reg add 'HKCR\http\shell\open\command' /ve /d "$reg_cmd" /f >/dev/null 2>&1
wine reg delete 'HKCU\Software\Microsoft\Windows\Shell\Associations\UrlAssociations\http\UserChoice' /f >/dev/null 2>&1

sleep 2 # the first poll tick has drawn the Stopped state
drv tray-click 0 right >/dev/null || fail "no notification-area window"
if drv menu 10000 >/dev/null; then
  shot tray-menu
  drv menu 5000 down down return >/dev/null # Status, Start: choose Start
  wait_for_line "$work/Single/harness.log" '^start 0$' 10 || fail "Start chosen from the tray menu"
else
  fail "right click showed no menu"
fi
# Running is reached at the next refresh-timer tick (5 s while Starting): a forwarded xstatus
# request is answered then, which tells this script that the state is Running. Console is then
# the default entry and a double click opens the appliance's console in the browser.
listen 5100 "$work/running.txt"; lr=$!
sleep 0.5
launch "$work/running.out" "$harness" "-xstatus 5100 $first"
[ "$(exit_of "$work/running.out" 30)" = 183 ] || fail "forwarded -xstatus: 183"
wait "$lr"
expect_in "$work/running.txt" '^State: Running$' "Running after Start from the menu"
sleep 0.5
shot tray-running
drv tray-click 0 double >/dev/null
wait_for_line "$work/browser.log" 'http://198\.18\.0\.2:3/console/' 15 || { fail "double click opened the console"; cat "$work/browser.log" 2>/dev/null; }
# Stop from another instance; then the default entry is Status again.
launch "$work/stop.out" "$harness" "-stop $first"
[ "$(exit_of "$work/stop.out" 30)" = 183 ] || fail "forwarded -stop: 183"
wait_for_line "$work/Single/harness.log" '^stop$' 10 || fail "forwarded stop reached the instance"
for _ in $(seq 100); do [ "$(grep -c '^stop' "$work/Single/harness.log")" -ge 2 ] && break; sleep 0.1; done
[ "$(grep -c '^stop' "$work/Single/harness.log")" -ge 2 ] || fail "second forwarded stop"
sleep 1
drv tray-click 0 double >/dev/null
dialog Status 1 "$work/status.dlg" status-box
expect_in "$work/status.dlg" '^text=State: Stopped$' "status report after a double click while Stopped"
expect_in "$work/status.dlg" '^text=IP Address: 0\.0\.0\.0$' "status report address"

# ---- 6. -exit hands Stop and Exit over and waits for the instance to end ------------------------
launch "$work/exit.out" "$harness" "-stop -exit $other"
[ "$(exit_of "$work/exit.out" 70)" = 0 ] || { fail "-stop -exit: 0"; cat "$work/exit.out"; }
[ "$(exit_of "$work/first.out" 30)" = 0 ] || { fail "first instance ended with 0"; cat "$work/first.out"; }
drv gone TARNTRAYICON - 5000 || fail "no main window left"
# Without a running instance, -exit ends at once.
launch "$work/exit2.out" "$harness" "-exit $first"
[ "$(exit_of "$work/exit2.out" 30)" = 0 ] || fail "-exit alone: 0"
drv nodialog Error 500 || fail "no box for -exit alone"

# ---- 7. -xstatus PORT: the report goes to a local TCP listener once the state is Running -------
mkdir -p "$work/xs"
vmx_file "$work/xs/Xs.vmx" 'harness.product = "Gateway A"' 'harness.quorvane = "Connected"' \
  'harness.ostrel = "site :: online"'
xs=$(winpath "$work/xs/Xs.vmx")
listen 5101 "$work/xs1.txt"; l1=$!
launch "$work/xs.out" "$harness" "-xstatus 5101 $xs"
drv window TARNTRAYICON "$xs" 30000 >/dev/null || fail "xstatus instance runs"
sleep 3
[ ! -s "$work/xs1.txt" ] || fail "a report sent while Stopped"
launch "$work/xs-start.out" "$harness" "-start $xs"
[ "$(exit_of "$work/xs-start.out" 30)" = 183 ] || fail "forwarded -start: 183"
wait "$l1"
expect_in "$work/xs1.txt" '^State: Running$' "report state"
expect_in "$work/xs1.txt" '^Product Name: Gateway A$' "report product"
expect_in "$work/xs1.txt" '^IP Address: 198\.18\.0\.2$' "report address"
expect_in "$work/xs1.txt" '^Ostrel Connection: site :: online$' "report Ostrel line"
# Forwarded while Running: sent at once.
listen 5102 "$work/xs2.txt"; l2=$!
sleep 0.5
launch "$work/xs2.out" "$harness" "-xstatus 5102 $xs"
[ "$(exit_of "$work/xs2.out" 30)" = 183 ] || fail "forwarded -xstatus: 183"
wait "$l2"
expect_in "$work/xs2.txt" '^State: Running$' "forwarded report"
launch "$work/xs-exit.out" "$harness" "-exit $xs"
[ "$(exit_of "$work/xs-exit.out" 70)" = 0 ] || fail "-exit of the xstatus instance: 0"

finish "shell e2e"
