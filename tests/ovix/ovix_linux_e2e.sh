#!/usr/bin/env bash
# ovix on Linux with real TAP interfaces: two namespaces of this script's own making joined by a
# veth pair (198.19.0.1 and 198.19.0.2), a TAP interface in each (198.19.1.1 and 198.19.1.2),
# "ovix -s" on one side and "ovix -a" on the other. Ping and a short iperf3 TCP run cross the
# bridge, "-d" from another process ends the attach, both capture files are read with tshark.
# Usage: ovix_linux_e2e.sh OVIX_PROGRAM. Everything is removed at the end, also on failure.
set -u
ovix=$(realpath "${1:?ovix program}")
tag=$$
left=ovxl$tag
right=ovxr$tag
tapl=ovtl$tag
tapr=ovtr$tag
work=$(mktemp -d /tmp/ovix-e2e.XXXXXX)
failures=0
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
show() { echo "---- $1"; cat "$1"; echo "----"; }
expect_in() { grep -Eq -- "$2" "$1" || { fail "$3"; show "$1"; }; }

cleanup() {
  set +e
  for ns in "$left" "$right"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null; done
  done
  sleep 0.2
  for ns in "$left" "$right"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
  rm -f "/run/ovix/$tapl.evt" "/run/ovix/$tapr.evt"
  [ -n "${KEEP_WORK:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

L() { ip netns exec "$left" "$@"; }
R() { ip netns exec "$right" "$@"; }

set -e
ip netns add "$left"
ip netns add "$right"
ip link add "ovvl$tag" type veth peer name "ovvr$tag"
ip link set "ovvl$tag" netns "$left"
ip link set "ovvr$tag" netns "$right"
L ip link set lo up
R ip link set lo up
L ip addr add 198.19.0.1/24 dev "ovvl$tag"
R ip addr add 198.19.0.2/24 dev "ovvr$tag"
L ip link set "ovvl$tag" up
R ip link set "ovvr$tag" up
L ip tuntap add dev "$tapl" mode tap
R ip tuntap add dev "$tapr" mode tap
L ip addr add 198.19.1.1/24 dev "$tapl"
R ip addr add 198.19.1.2/24 dev "$tapr"
L ip link set "$tapl" up
R ip link set "$tapr" up
set +e

mkdir -p "$work/left" "$work/right"

# Set-up failures: no peer, no such adapter.
(cd "$work/left" && L "$ovix" -a 198.19.0.2 "$tapl" >"$work/nopeer.out" 2>&1)
rc=$?
[ $rc = 1 ] || fail "attach without a peer: exit $rc"
expect_in "$work/nopeer.out" '\(attach_device\) tcp connect$' "tcp connect error"
grep -q 'tap device open' "$work/nopeer.out" && fail "the adapter was opened without a peer"
(cd "$work/right" && R "$ovix" -s "nosuch$tag" >"$work/notap.out" 2>&1)
rc=$?
[ $rc = 1 ] || fail "server without its adapter: exit $rc"
expect_in "$work/notap.out" '\(server_device\) tap device open$' "tap device open error"

# The bridge.
(cd "$work/right" && exec ip netns exec "$right" "$ovix" -s -c -D "$tapr") >"$work/server.log" 2>&1 &
server=$!
sleep 0.3
# A second server finds port 1200 taken.
(cd "$work/right" && R "$ovix" -s "$tapr" >"$work/bind.out" 2>&1)
rc=$?
[ $rc = 1 ] || fail "second server: exit $rc"
expect_in "$work/bind.out" '\(server_device\) bind$' "bind error"
(cd "$work/left" && exec ip netns exec "$left" "$ovix" -a -c -D 198.19.0.2 "$tapl") >"$work/attach.log" 2>&1 &
attach=$!
for _ in $(seq 50); do grep -q 'connected to' "$work/attach.log" && break; sleep 0.1; done
expect_in "$work/attach.log" 'connected to 198\.19\.0\.2:1200' "attach connected"
[ "$(L cat "/sys/class/net/$tapl/carrier" 2>/dev/null)" = 1 ] || fail "carrier on while attached"

L ping -c 3 -i 0.2 -W 2 198.19.1.2 >"$work/ping.out" 2>&1 || { fail "ping across the bridge"; show "$work/ping.out"; }

R timeout 30 iperf3 -s -1 -B 198.19.1.2 >"$work/iperf-server.out" 2>&1 &
iperf_server=$!
sleep 0.3
L timeout 20 iperf3 -c 198.19.1.2 -n 20M -f m >"$work/iperf.out" 2>&1 || { fail "iperf3 across the bridge"; show "$work/iperf.out"; }
wait "$iperf_server"
grep -E 'receiver$' "$work/iperf.out" | tail -n 1

# Detach from another process ends the attach cleanly.
L "$ovix" -d "$tapl" >"$work/detach.out" 2>&1 || fail "detach exit code"
for _ in $(seq 50); do kill -0 "$attach" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$attach" 2>/dev/null; then
  fail "attach still running after -d"
else
  wait "$attach"
  rc=$?
  [ $rc = 0 ] || fail "attach exit code $rc after -d"
fi
expect_in "$work/attach.log" '\(attach_device\) closing connection to device$' "attach teardown"
expect_in "$work/attach.log" '\(attach_device\) done$' "attach done"
grep -q 'ovix err' "$work/attach.log" && { fail "errors in the attach log"; show "$work/attach.log"; }

# The server goes back to accept; SIGTERM takes its orderly path.
sleep 0.3
kill -TERM "$server"
wait "$server"
rc=$?
[ $rc = 0 ] || { fail "server exit code $rc after SIGTERM"; show "$work/server.log"; }
expect_in "$work/server.log" '\(server_device\) done$' "server done"

# Both capture files, read by a real reader: every ping both ways with its length.
for side in left right; do
  files=("$work/$side"/l2-*.pcap)
  [ ${#files[@]} = 1 ] && [ -f "${files[0]}" ] || { fail "one capture file on the $side"; ls -l "$work/$side"; continue; }
  tshark -r "${files[0]}" -T fields -e frame.len -e frame.cap_len -e icmp.type >"$work/$side.tshark" 2>"$work/$side.tshark.err" ||
    { fail "tshark cannot read the $side capture"; show "$work/$side.tshark.err"; continue; }
  requests=$(awk '$1 == 98 && $2 == 98 && $3 == 8' "$work/$side.tshark" | wc -l)
  replies=$(awk '$1 == 98 && $2 == 98 && $3 == 0' "$work/$side.tshark" | wc -l)
  [ "$requests" -ge 3 ] && [ "$replies" -ge 3 ] || { fail "$side capture: $requests requests, $replies replies"; head -n 20 "$work/$side.tshark"; }
  frames=$(wc -l <"$work/$side.tshark")
  echo "$side capture: $frames frames"
done

if [ "$failures" -ne 0 ]; then
  echo "ovix linux e2e: $failures failure(s)"
  show "$work/attach.log"
  show "$work/server.log"
  exit 1
fi
echo "ovix linux e2e: all scenarios passed"
