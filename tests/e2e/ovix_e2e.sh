#!/usr/bin/env bash
# Runs inside scripts/netns-run (host namespace, 198.18.0.1; the appliance side is 198.18.0.2).
# Modes:
#   forward OVIX_TESTS_EXE                the forwarding tests (ForwardNs.*) under Wine
#   programs OVIX_EXE PIPETAP_EXE STANDIN_EXE
#       ovix.exe's command line and set-up failures, then the interop scenario: the native Linux
#       "ovix -s" on a real TAP interface (198.19.7.1) in the appliance namespace, and
#       "ovix-pipetap.exe -a" under Wine whose stand-in adapter is served by tap-standin.exe, a
#       small host at 198.19.7.2 that answers ARP and ping. A ping crosses both programs and the
#       wire format; "-d" from another Wine process ends the attach; tshark reads both captures.
# The native ovix is VELMORA_OVIX_NATIVE, else build/native's, built there when missing.
set -u
mode=${1:?mode}
src=$(cd "$(dirname "$0")/../.." && pwd)
work=${VELMORA_NS_WORK:?run me through scripts/netns-run}
failures=0
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
show() { echo "---- $1"; tr -d '\r' <"$1"; echo "----"; }
expect_in() { tr -d '\r' <"$1" | grep -Eq -- "$2" || { fail "$3"; show "$1"; }; }

if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  "$src/scripts/wine-prefix" "$WINEPREFIX"
fi
wine_run() { "$src/scripts/wine-exec" "$@"; }

if [ "$mode" = forward ]; then
  wine_run "${2:?ovix_tests}" --gtest_filter='ForwardNs.*' --gtest_brief=1
  exit $?
fi

ovix_exe=${2:?ovix.exe}
pipetap=${3:?ovix-pipetap.exe}
standin=${4:?tap-standin.exe}
native=${VELMORA_OVIX_NATIVE:-$src/build/native/src/ovix/ovix}
if [ ! -x "$native" ]; then
  (cd "$src" && cmake --preset native >/dev/null && cmake --build --preset native --target ovix >/dev/null) ||
    { echo "cannot build the native ovix"; exit 1; }
fi
A() { ip netns exec "$VELMORA_NS_APPLIANCE" "$@"; }

# 1. Command line of the real program: usage, version, detach of nothing; exit codes.
out=$work/usage.out
wine_run "$ovix_exe" >"$out" 2>"$work/usage.err"
rc=$?
[ $rc = 0 ] || fail "usage exit code $rc"
argv0=$(tr -d '\r' <"$out" | sed -n '1s/^Usage: \(.*\) \[options\]\t*$/\1/p')
# shellcheck disable=SC2059
printf "Usage: %s [options]\t\t\t\t\n\t-a, --attach <host> <tapguid>\t\t\n\t\tAttach a remote L2 switch.\t\n\t\t\t\t\t\t\n\t-s, --server <tapguid>\t\t\t\n\t\tRun as L2 switch server.\t\n\t\t\t\t\t\t\n\t-d, --detach <tapguid>\t\t\t\n\t\tDetach from L2 switch.\t\n\t\t\t\t\t\t\n\t-D, --debug\t\t\t\t\n\t\tPrint debugging information.\t\n\t\t\t\t\t\t\n\t-v, --version\t\t\t\t\n\t\tShow version.\t\t\t\n\t\t\t\t\t\t\n\t-h, --help \t\t\t\t\n\t\tPrint this help.\t\t\n" "$argv0" >"$work/usage.expected"
tr -d '\r' <"$out" | cmp -s - "$work/usage.expected" || { fail "usage text"; show "$out"; }
expect_in "$work/usage.err" '^ovix for windows \(0\.1\.0\.0\)$' "banner on standard error"

wine_run "$ovix_exe" -v >"$out" 2>/dev/null || fail "version exit code"
[ "$(tr -d '\r' <"$out")" = "ovix for windows (0.1.0.0)" ] || { fail "version line"; show "$out"; }
wine_run "$ovix_exe" -a onlyhost >"$out" 2>/dev/null || fail "usage exit code for -a with one argument"
expect_in "$out" '^Usage: ' "usage for -a with one argument"
wine_run "$ovix_exe" -d >"$out" 2>"$work/detach.err" || fail "detach of nothing: exit code"
[ -s "$out" ] && { fail "detach of nothing printed"; show "$out"; }
grep -q 'ovix err' "$work/detach.err" && { fail "detach of nothing reported an error"; show "$work/detach.err"; }

# 2. Set-up failures: nothing listens (the adapter is never opened), then no TAP driver.
wine_run "$ovix_exe" -D -a 198.18.0.2:1 e2eguid >"$out" 2>"$work/noconnect.err"
rc=$?
[ $rc = 1 ] || fail "attach without a peer: exit $rc"
expect_in "$work/noconnect.err" '\(tcp_connect \) 198\.18\.0\.2:1, no destination to connect to$' "no destination line"
expect_in "$work/noconnect.err" '\(attach_device\) tcp connect$' "tcp connect error"
grep -q 'tap device open' "$work/noconnect.err" && fail "the adapter was opened without a peer"

# 3. Interop: native Linux server with a real TAP interface in the appliance namespace.
tap=ovw$$
A ip tuntap add dev "$tap" mode tap
A ip addr add 198.19.7.1/24 dev "$tap"
A ip link set "$tap" up
mkdir -p "$work/lin" "$work/win"
(cd "$work/lin" && exec ip netns exec "$VELMORA_NS_APPLIANCE" "$native" -s -c -D "$tap") >"$work/server.log" 2>&1 &
server=$!
sleep 0.3

# The real ovix.exe reaches the server, then finds no TAP driver.
wine_run "$ovix_exe" -a 198.18.0.2 e2eguid >"$out" 2>"$work/notap.err"
rc=$?
[ $rc = 1 ] || fail "attach without a TAP driver: exit $rc"
expect_in "$work/notap.err" '\(attach_device\) tap device open$' "tap device open error"

guid="{E2E0$$-0000-4000-8000-0000000000AB}"
wine_run "$standin" "$guid" 198.19.7.2 >"$work/standin.out" 2>&1 &
standin_pid=$!
for _ in $(seq 100); do grep -q ready "$work/standin.out" && break; sleep 0.1; done
(cd "$work/win" && exec "$src/scripts/wine-exec" "$pipetap" -a -c -D 198.18.0.2 "$guid") >"$work/attach.log" 2>&1 &
attach=$!
for _ in $(seq 100); do tr -d '\r' <"$work/attach.log" | grep -q 'connected to' && break; sleep 0.1; done
expect_in "$work/attach.log" 'connected to 198\.18\.0\.2:1200$' "Wine attach connected to the Linux server"
sleep 0.3
A ping -c 3 -i 0.3 -W 3 198.19.7.2 >"$work/ping.out" 2>&1 || { fail "ping through both programs"; show "$work/ping.out"; show "$work/standin.out"; }

# Detach from another Wine process ends the attach with exit 0.
wine_run "$pipetap" -d "$guid" >/dev/null 2>&1 || fail "detach exit code"
for _ in $(seq 100); do kill -0 "$attach" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$attach" 2>/dev/null; then
  fail "attach still running after -d"
else
  wait "$attach"
  rc=$?
  [ $rc = 0 ] || fail "attach exit code $rc after -d"
fi
expect_in "$work/attach.log" '\(attach_device\) closing connection to device$' "attach teardown"
expect_in "$work/attach.log" '\(attach_device\) done$' "attach done"
tr -d '\r' <"$work/attach.log" | grep -q 'ovix err' && { fail "errors in the attach log"; show "$work/attach.log"; }
for _ in $(seq 50); do kill -0 "$standin_pid" 2>/dev/null || break; sleep 0.1; done
expect_in "$work/standin.out" '^rx 98 icmp-echo$' "echo requests reached the stand-in adapter"
expect_in "$work/standin.out" '^tx 98 icmp-reply$' "echo replies left the stand-in adapter"

sleep 0.3
kill -TERM "$server"
wait "$server"
rc=$?
[ $rc = 0 ] || fail "Linux server exit code $rc after SIGTERM"
expect_in "$work/server.log" '\(server_device\) done$' "server done"

# Both capture files, read by tshark: every ping both ways with its length. The server made one
# file per connection: the short one of ovix.exe without its driver, then the bridged one.
for side in win lin; do
  files=("$work/$side"/l2-*.pcap)
  expected=1
  [ $side = lin ] && expected=2
  [ ${#files[@]} = $expected ] && [ -f "${files[0]}" ] || { fail "$expected capture file(s) on the $side side"; ls -l "$work/$side"; continue; }
  files=("${files[@]: -1}")
  tshark -r "${files[0]}" -T fields -e frame.len -e frame.cap_len -e icmp.type >"$work/$side.tshark" 2>"$work/$side.tshark.err" ||
    { fail "tshark cannot read the $side capture"; show "$work/$side.tshark.err"; continue; }
  requests=$(awk '$1 == 98 && $2 == 98 && $3 == 8' "$work/$side.tshark" | wc -l)
  replies=$(awk '$1 == 98 && $2 == 98 && $3 == 0' "$work/$side.tshark" | wc -l)
  [ "$requests" -ge 3 ] && [ "$replies" -ge 3 ] || { fail "$side capture: $requests requests, $replies replies"; cat "$work/$side.tshark"; }
  if [ $side = win ]; then
    # Every frame the stand-in adapter took in or gave out, and nothing else, with its length.
    tr -d '\r' <"$work/standin.out" | awk '$1 == "rx" || ($1 == "tx" && NF == 3) { print $2 }' | sort >"$work/standin.lengths"
    cut -f1 "$work/$side.tshark" | sort >"$work/capture.lengths"
    cmp -s "$work/standin.lengths" "$work/capture.lengths" ||
      { fail "the Windows capture does not hold exactly the forwarded frames"; diff "$work/standin.lengths" "$work/capture.lengths" | head; }
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "ovix e2e: $failures failure(s)"
  show "$work/attach.log"
  show "$work/server.log"
  show "$work/standin.out"
  exit 1
fi
echo "ovix e2e: all scenarios passed"
