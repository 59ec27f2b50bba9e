#!/usr/bin/env bash
# Runs inside scripts/netns-run (host namespace) under an X server: Velmora.exe with the VMware
# Player stand-ins registered in the private Wine prefix, against the appliance simulator in the
# appliance namespace. The VM stand-in switches the simulator on while it runs.
#   velmora_e2e.sh [--demo] VELMORA_EXE UI_DRIVER_EXE STANDIN_GUI_EXE SCREENSHOT_DIR
# --demo walks the main path and prints what it sees; without it every step is also checked
# (and a restart while the VM runs, which must find the VM again).
set -u
demo=0
if [ "${1:-}" = --demo ]; then demo=1; shift; fi
velmora=${1:?Velmora.exe}
driver=${2:?ui-driver.exe}
standin=${3:?standin-gui.exe}
shots=${4:?screenshot folder}
src=$(cd "$(dirname "$0")/../.." && pwd)
. "$src/tests/e2e/lib.sh"
: "${DISPLAY:?needs an X server (xvfb-run)}"
mkdir -p "$shots"
say() { echo "$*"; }

use_appliance_gateway
private_wine_prefix
export WINEDEBUG=-all
wineserver -p 120
simpid=
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

simulator_path

winpath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
drv() { wine "$driver" "$@"; }
shot() { import -window root "$shots/$1.png" 2>/dev/null || echo "(no screenshot $1)"; }
# icon_shot NAME: the first icon's cell of the notification area (Wine without a desktop tray
# shows it as a window of its own), and an enlarged copy for a person.
icon_shot() {
  local cell; cell=$(drv tray-click 0 where 2>/dev/null | tr -d '\r' | sed -n 's/^cell //p')
  [ -n "$cell" ] || { echo "(no notification area for $1)"; return 1; }
  read -r x y size <<<"$cell"
  import -window root -crop "${size}x${size}+$x+$y" +repage "$shots/$1-icon.png" 2>/dev/null &&
    convert "$shots/$1-icon.png" -filter point -resize 800% "$shots/$1-icon-large.png" 2>/dev/null
}
# icon_diff A B: how many pixels differ in the middle of two icon shots (Wine's notification area
# blends a new icon over the border pixels of the one before, so the edges are not compared).
icon_diff() {
  local n
  convert "$shots/$1-icon.png" -gravity center -crop 12x12+0+0 +repage "$work/a-middle.png"
  convert "$shots/$2-icon.png" -gravity center -crop 12x12+0+0 +repage "$work/b-middle.png"
  n=$(compare -metric AE "$work/a-middle.png" "$work/b-middle.png" null: 2>&1)
  case $n in [0-9]*) echo "${n%% *}" ;; *) echo "error: $n" ;; esac
}
# icon_until NAME same|differs REF...: takes icon shots until NAME is the same as (or differs
# from every one of) the REF shots; the icon follows the state on the next timer tick, which a
# loaded machine delays. Gives up after 20 s, leaving the last shot for the checks below.
icon_until() {
  local name=$1 want=$2 ok ref; shift 2
  for _ in $(seq 40); do
    icon_shot "$name" || { sleep 0.5; continue; }
    ok=1
    for ref in "$@"; do
      case $want:$(icon_diff "$name" "$ref") in
        same:0 | differs:[1-9]*) ;;
        *) ok=0 ;;
      esac
    done
    [ "$ok" = 1 ] && return 0
    sleep 0.5
  done
  return 1
}
# launch OUT ARGS: Velmora.exe through the driver in the background; OUT receives "exit=N".
launch() {
  local out=$1; shift
  : >"$out"
  wine "$driver" run 180000 "$velmora" "$*" >"$out" 2>&1 &
}
exit_of() { # exit_of OUT SECONDS
  for _ in $(seq $(($2 * 10))); do
    if grep -q '^exit=' "$1"; then tr -d '\r' <"$1" | sed -n 's/^exit=//p'; return 0; fi
    sleep 0.1
  done
  echo none
}
# report PORT FILE: asks the running instance for its status report (delivered once Running).
report() {
  local port=$1 file=$2
  : >"$file"
  listen "$port" "$file"
  local listener=$!
  sleep 0.5
  launch "$work/xstatus.out" "-xstatus $port $vmx_win"
  wait "$listener" || return 1
  [ -s "$file" ]
}
alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

# The appliance: off until the VM stand-in runs; the first status requests go unanswered, so
# that Starting lasts long enough to be seen.
off=$work/appliance.off
simlog=$work/sim.log
cat >"$work/sim.conf" <<CONF
mac = 00:0c:29:e2:e2:01
product = Velmora Demo Appliance
firmware = 7.4.0
device_name = demo-appliance
serial_number = VLM-0042-7731
quorvane_status = Connected
off_file = $off
drop_first = 2
CONF
touch "$off"
: >"$simlog"
ip netns exec "$VELMORA_NS_APPLIANCE" "$sim" --config "$work/sim.conf" --log "$simlog" &
simpid=$!
wait_for_line "$simlog" READY 5 || { echo "simulator did not start"; cat "$simlog"; exit 1; }

players=$work/player
"$src/tests/standins/install-player-standin" "$players" --standin "$standin" --off-file "$off" \
  --accept-licence >/dev/null || { echo "cannot install the Player stand-ins"; exit 1; }
vmdir=$work/vm
mkdir -p "$vmdir"
cp "$src/tests/supervision/samples/appliance.vmx" "$vmdir/Appliance.vmx"
vmx_win=$(winpath "$vmdir/Appliance.vmx")
# A log left behind by a VM that is long gone: no process holds it, so it is not a running VM.
printf 'stale log pid=999999\n' >"$vmdir/vmware.log"
say "VMX file: $vmx_win"

# 1. Stopped: the program runs without starting the VM.
launch "$work/first.out" "$vmx_win"
drv window TARNTRAYICON - 30000 >/dev/null || fail "no main window"
for _ in $(seq 40); do # until the icon is drawn
  icon_shot stopped &&
    [ "$(convert "$shots/stopped-icon.png" -gravity center -crop 12x12+0+0 -format %k info:)" -gt 1 ] &&
    break
  sleep 0.5
done
shot stopped
[ -f "$players/player.pid" ] && fail "the Player started without -start"

# 2. Starting: a second instance forwards -start.
launch "$work/start.out" "-start $vmx_win"
wait_for_line "$players/vm.pid" '[0-9]' 30 || fail "the VM stand-in did not start"
# The Player's window leaves the screen when Velmora hides it under the message-only parent.
drv window VMPlayerFrame - 3000 >/dev/null 2>&1
drv gone VMPlayerFrame - 20000 >/dev/null || fail "the Player's window was not hidden"
icon_until starting differs stopped
shot starting
say "Player started: $(tr -d '\r' <"$players/standin.log" | grep -m1 -i 'vmplayer' || true)"

# 3. Running: the status report arrives once the appliance answers.
if report 47001 "$work/report1.txt"; then
  say "-- status report (xstatus)"
  tr -d '\r' <"$work/report1.txt" | sed 's/^/   /'
  echo
else
  fail "no status report"
fi
icon_until running differs stopped starting
drv tray-click 0 hover >/dev/null
sleep 2
shot running-tooltip
drv tray-click 0 right >/dev/null
if drv menu 10000 >/dev/null; then
  sleep 0.5
  shot running-menu
  drv menu 5000 escape >/dev/null
else
  fail "no tray menu"
fi
say "screenshots: $shots"

if [ "$demo" = 0 ]; then
  expect_in "$work/report1.txt" 'Running' "report says Running"
  expect_in "$work/report1.txt" 'Velmora Demo Appliance' "report names the product"
  expect_in "$work/report1.txt" '198\.18\.0\.2' "report gives the address"
  expect_in "$players/standin.log" "vmplayer\\.exe.*Appliance\\.vmx" "Player launched with the VMX path"
  expect_in "$players/show.txt" '^(show=)?7$' "Player started hidden (licence accepted)"
  grep -q 'stale log' "$vmdir/vmware.log" && fail "the stale vmware.log is still there"
  expect_in "$vmdir/Appliance.vmx" '^appliance\.serialno = "VLM-0042-7731"' "serial number written"
  expect_in "$vmdir/Appliance.vmx" '^appliance\.hostname = "demo-appliance"' "host name written"
  expect_in "$vmdir/Appliance.vmx" '^appliance\.productname = "Velmora Demo Appliance"' "product written"
  expect_in "$simlog" 'SET F000\.F090 = "127"' "identity sent"
  for a in stopped starting running; do
    for b in stopped starting running; do
      [ "$a" \< "$b" ] || continue
      n=$(icon_diff "$a" "$b")
      case $n in 0 | error*) fail "the $a and $b icons look the same ($n)" ;; esac
    done
  done

  # 4. Exit with Shift leaves the VM running; a new instance finds it again through its log.
  vmpid_before=$(tr -d '\r' <"$players/vm.pid")
  drv post TARNTRAYICON - 0x0111 105 1 >/dev/null || fail "cannot post Exit"
  [ "$(exit_of "$work/first.out" 30)" = 0 ] || fail "Exit with Shift did not end the program"
  launch "$work/first.out" "$vmx_win"
  if report 47002 "$work/report2.txt"; then
    expect_in "$work/report2.txt" 'Running' "the restarted program finds the VM running"
  else
    fail "no status report after the restart"
  fi
  [ "$(grep -c 'vmplayer' "$players/standin.log")" = 1 ] || fail "a second Player was launched"
  [ "$(tr -d '\r' <"$players/vm.pid")" = "$vmpid_before" ] || fail "a second VM was started"

  # 5. Stop from a second instance: shutdown request, Player closed, VM ended, icon Stopped.
  launch "$work/stop.out" "-stop $vmx_win"
  [ "$(exit_of "$work/stop.out" 30)" = 183 ] || fail "the stop request was not forwarded"
  for _ in $(seq 300); do [ -f "$off" ] && break; sleep 0.1; done
  [ -f "$off" ] || fail "the VM stand-in is still running after stop"
  icon_until stopped-again same stopped
  drv tray-click 0 hover >/dev/null
  sleep 2
  shot stopped-tooltip
  n=$(icon_diff stopped stopped-again)
  [ "$n" = 0 ] || fail "the icon is not the Stopped icon after stop ($n pixels differ)"
  expect_in "$simlog" 'kind=shutdown' "shutdown request sent"
  launch "$work/exit.out" "-exit $vmx_win"
  [ "$(exit_of "$work/exit.out" 70)" = 0 ] || fail "-exit did not end the first instance"
  [ "$(exit_of "$work/first.out" 10)" = 0 ] || fail "the first instance's exit code"
else
  # The demo ends the way an administrator would: stop and exit from a second instance.
  say "-- Velmora.exe -stop -exit"
  launch "$work/stop.out" "-stop -exit $vmx_win"
  code=$(exit_of "$work/stop.out" 90)
  say "   stop instance exit code: $code; first instance exit code: $(exit_of "$work/first.out" 10)"
  if [ -f "$off" ]; then say "   the VM stand-in has ended; the appliance is off"; else fail "the VM still runs"; fi
  say "-- what the appliance received"
  tr -d '\r' <"$simlog" | grep -E ' RX |SET ' | cut -c1-160 | sed 's/^/   /'
fi

finish "velmora e2e"
