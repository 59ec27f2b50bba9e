#!/usr/bin/env bash
# Runs inside scripts/netns-run (host namespace). Modes:
#   transport PROTOCOL_TESTS_EXE  the transport tests that send datagrams (TransportNs.*)
#   status STATUS_QUERY_EXE       status-query.exe against the appliance simulator
# The simulator is VELMORA_APPLIANCE_SIM, else build/native's, built there when missing.
set -u
mode=${1:?mode}
exe=${2:?program}
src=$(cd "$(dirname "$0")/../.." && pwd)
. "$src/tests/e2e/lib.sh"

use_appliance_gateway

private_wine_prefix

if [ "$mode" = transport ]; then
  wine_run "$exe" --gtest_filter='TransportNs.*' --gtest_brief=1
  exit $?
fi

simulator_path

simpid=
start_sim() { # start_sim NAME [extra config lines...]
  local name=$1; shift
  cfg=$work/$name.conf
  simlog=$work/$name.sim.log
  {
    echo "mac = 00:0c:29:e2:e2:01"
    echo "product = Velmora E2E Appliance"
    echo "firmware = 9.8.7"
    echo "device_name = e2e-appliance"
    echo "quorvane_status = Connected"
    echo "off_file = $work/$name.off"
    printf '%s\n' "$@"
  } >"$cfg"
  : >"$simlog"
  ip netns exec "$VELMORA_NS_APPLIANCE" "$sim" --config "$cfg" --log "$simlog" &
  simpid=$!
  for _ in $(seq 50); do grep -q READY "$simlog" && return 0; sleep 0.1; done
  fail "simulator did not start"; cat "$simlog"
}
stop_sim() { [ -n "$simpid" ] && kill "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null; simpid=; }
trap stop_sim EXIT

# 1. Target unknown: one broadcast status request, answered with the four values.
start_sim broadcast
out=$work/broadcast.out
wine_run "$exe" status >"$out" 2>&1 || fail "status query failed (rc $?)"
expect_in "$out" '^Product: Velmora E2E Appliance' "product"
expect_in "$out" '^Firmware: 9\.8\.7' "firmware"
expect_in "$out" '^Device name: e2e-appliance' "device name"
expect_in "$out" '^Address: 198\.18\.0\.2' "address"
expect_in "$simlog" 'RX from=198\.18\.0\.1 to=255\.255\.255\.255 len=[0-9]+ IMCC flags=0x00000380 mac=ff:ff:ff:ff:ff:ff kind=status' \
  "a broadcast status request with flags 0x380"
stop_sim

# 2. After setTarget: directed requests to the appliance's address, through the fallback socket.
start_sim directed
out=$work/directed.out
plog=$work/directed.protocol.log
wine_run "$exe" --log "$plog" target 198.18.0.2 status query F000 F010 >"$out" 2>&1 ||
  fail "directed requests failed (rc $?)"
expect_in "$out" '^Address: 198\.18\.0\.2' "directed status answered"
expect_in "$out" '^F000\.F010: Connected' "attribute query answered"
expect_in "$simlog" 'to=198\.18\.0\.2 .*IMCC flags=0x00000382 .*kind=status' "a directed status request"
expect_in "$simlog" 'to=198\.18\.0\.2 .*IMCC flags=0x80000002 .*kind=get pdu=A0 id=1 .*community=":" vb=F000\.F010:null' \
  "a directed attribute query with request id 1"
if grep -q 'to=255\.255\.255\.255' "$simlog"; then fail "a broadcast after setTarget"; cat "$simlog"; fi
expect_in "$plog" '^[0-9:.]{12} Connecting to 198\.18\.0\.2$' "Connecting log line"
expect_in "$plog" '^[0-9:.]{12} Sending on socket \[[0-9]+\] to 198\.18\.0\.2: [0-9]+$' "directed send log line"
expect_in "$plog" '^[0-9:.]{12} Receive on socket \[[0-9]+\] from 198\.18\.0\.2: [0-9]+$' "receive log line"
stop_sim

# 3. Known target to unknown: the transport resets and broadcasts again.
start_sim reset
out=$work/reset.out
plog=$work/reset.protocol.log
wine_run "$exe" --log "$plog" target 198.18.0.2 status target none status >"$out" 2>&1 ||
  fail "status after forgetting the target failed (rc $?)"
expect_in "$plog" 'Trying to work around winsock bug!' "reset when the target became unknown"
expect_in "$plog" 'Connecting to 255\.255\.255\.255' "Connecting to the unknown target"
expect_in "$plog" 'Opening socket #0 \[[0-9]+\] for interface [0-9]+ using address 198\.18\.0\.1' "interface socket"
expect_in "$plog" 'Interface [0-9]+ prefix: 198\.18\.0\.0/24' "the prefix rule for the known target"
last=$(grep 'kind=status' "$simlog" | grep '^.* RX ' | tail -n 1)
case "$last" in *to=255.255.255.255*) ;; *) fail "last status request was not a broadcast: $last" ;; esac
[ "$(grep -c '^Address: 198.18.0.2' "$out")" = 2 ] || { fail "two answered status requests"; cat "$out"; }
stop_sim

# 4. A directed request left unanswered is resent once after a transport reset.
start_sim retry "drop_first = 1"
out=$work/retry.out
plog=$work/retry.protocol.log
wine_run "$exe" --log "$plog" target 198.18.0.2 status >"$out" 2>&1 || fail "retry after reset failed (rc $?)"
expect_in "$out" '^Address: 198\.18\.0\.2' "answered after the retry"
expect_in "$plog" 'Trying to work around winsock bug!' "reset before the resend"
expect_in "$simlog" 'DROPPED request 1' "first request dropped"
[ "$(grep -c ' RX .*kind=status' "$simlog")" = 2 ] || { fail "two status requests"; cat "$simlog"; }
stop_sim

# 5. A notification reaches the window; an appliance that is off leaves the host without answer.
start_sim notify
out=$work/notify.out
wine_run "$exe" target 198.18.0.2 status notify-wait 8000 >"$out" 2>&1 &
sq=$!
for _ in $(seq 100); do grep -q ' TX .*kind=status' "$simlog" && break; sleep 0.1; done
sleep 0.5
kill -USR1 "$simpid"
wait "$sq" || fail "no notification (rc $?)"
expect_in "$out" '^Notification: received' "notification posted to the window"
expect_in "$simlog" 'TX to=198\.18\.0\.1 .*IMCN' "notification sent"
touch "$work/notify.off"
wine_run "$exe" status >"$out" 2>&1 && fail "an answer from a switched-off appliance"
expect_in "$out" '^No answer \(status 3\)' "no answer while off"
expect_in "$simlog" '^.* OFF ignored' "datagram ignored while off"
stop_sim

finish "protocol e2e"
