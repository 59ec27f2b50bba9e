#!/usr/bin/env bash
# Runs inside scripts/netns-run (host namespace): the VMware Player backend against the appliance
# simulator, with the Player stand-ins registered in a private Wine prefix.
#   player_e2e.sh VM_TESTS_EXE STANDIN_GUI_EXE
# The VM stand-in switches the simulator on while it runs (the simulator's off_file); stop must
# ask a VMware appliance to shut down (and not another one), close the Player and end the VM.
# The simulator is VELMORA_APPLIANCE_SIM, else build/native's, built there when missing.
set -u
tests=${1:?vm_tests.exe}
standin=${2:?standin-gui.exe}
src=$(cd "$(dirname "$0")/../.." && pwd)
. "$src/tests/e2e/lib.sh"

use_appliance_gateway

private_wine_prefix

simulator_path

players=$work/player
off=$work/appliance.off
simlog=$work/sim.log
cat >"$work/sim.conf" <<CONF
mac = 00:0c:29:e2:e2:01
product = Velmora E2E Appliance
firmware = 9.8.7
device_name = e2e-appliance
off_file = $off
CONF
touch "$off" # no VM runs yet: the appliance is off
: >"$simlog"
ip netns exec "$VELMORA_NS_APPLIANCE" "$sim" --config "$work/sim.conf" --log "$simlog" &
simpid=$!
trap 'kill $simpid 2>/dev/null; wait $simpid 2>/dev/null' EXIT
for _ in $(seq 50); do grep -q READY "$simlog" && break; sleep 0.1; done
grep -q READY "$simlog" || { echo "simulator did not start"; cat "$simlog"; exit 1; }

"$src/tests/standins/install-player-standin" "$players" --standin "$standin" --off-file "$off" \
  --accept-licence || { echo "cannot install the Player stand-ins"; exit 1; }

VELMORA_PLAYER_E2E_DIR=$(winepath -w "$players" 2>/dev/null | tr -d '\r') \
VELMORA_PLAYER_E2E_OFF=$(winepath -w "$off" 2>/dev/null | tr -d '\r') \
  "$src/scripts/wine-exec" "$tests" --gtest_filter='PlayerNs.*' --gtest_brief=1 ||
  fail "the backend's run against the simulator"

expect_in "$simlog" ' OFF ignored' "requests ignored while no VM ran"
expect_in "$simlog" 'TX to=198\.18\.0\.1 .*kind=status' "status answered while the VM stand-in ran"
expect_in "$simlog" 'RX from=198\.18\.0\.1 .*IMCC flags=0x00000001 mac=00:0c:29:e2:e2:01 kind=shutdown' \
  "a shutdown request for the VMware appliance"
n=$(grep -c 'kind=shutdown' "$simlog")
[ "$n" = 1 ] || { fail "exactly one shutdown request (got $n)"; cat "$simlog"; }
expect_in "$players/standin.log" 'vmplayer\.exe" "[^"]*Velmora\.vmx"$' "the Player started with the VMX path"
expect_in "$players/standin.log" 'vmware-vmx\.exe" -s vmx\.stdio\.keep=TRUE "[^"]*Velmora\.vmx"$' "the VM stand-in started"
[ "$(grep -c 'vmplayer\.exe' "$players/standin.log")" = 2 ] || fail "two Player starts"
[ -f "$off" ] || fail "the appliance is off again at the end"
"$src/tests/standins/install-player-standin" --unregister

finish "player e2e"
