#!/usr/bin/env bash
# Throughput of the Linux ovix bridge against the limit (the veth pair alone) and against the
# program users would pick otherwise (OpenVPN in TAP mode over TCP, without encryption), side by
# side in one run: iperf3 TCP both ways, the 64-byte UDP frame rate, and ping round-trip time.
#
# Two namespaces of this script's own making are joined by a veth pair (198.19.0.1/.2); ovix
# bridges TAP interfaces 198.19.10.1/.2 over it, OpenVPN TAP interfaces 198.19.20.1/.2. Nothing
# leaves the namespaces; everything is removed at the end, also on failure.
#
# The small-frame rate comes from bench/ovix_udp_flood.cpp (64 datagrams per call), since
# iperf3 itself cannot send 64-byte frames as fast as the veth pair carries them.
#
# Usage: bench/ovix_bridge.sh [SECONDS [ROUNDS]]   (default 5 s per run, median of 3 rounds)
# Env: OVIX_BENCH_BIN   an ovix program to use (default: build/bench's, built when missing)
#      OVIX_BENCH_OUT   also write the table to this file
set -eu
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-5}
rounds=${2:-3}

# OpenVPN is only the comparison of this benchmark: install it here, not with the build's tools.
if ! command -v openvpn >/dev/null 2>&1; then
  echo "installing openvpn for the comparison"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends openvpn >/dev/null
fi
for tool in iperf3 ping; do
  command -v $tool >/dev/null 2>&1 || { echo "missing $tool (scripts/install-deps)"; exit 1; }
done

ovix=${OVIX_BENCH_BIN:-$root/build/bench/src/ovix/ovix}
flood=$root/build/bench/bench/ovix-udp-flood
cmake --preset bench >/dev/null
cmake --build build/bench --target ovix ovix_udp_flood -j2 >/dev/null

tag=$$
a=ovba$tag
b=ovbb$tag
work=$(mktemp -d /tmp/ovix-bench.XXXXXX)
pids=()
cleanup() {
  set +e
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for ns in "$a" "$b"; do
    for p in $(ip netns pids "$ns" 2>/dev/null); do kill "$p" 2>/dev/null; done
  done
  sleep 0.3
  for ns in "$a" "$b"; do
    for p in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$p" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
  rm -f "/run/ovix/ovxa$tag.evt" "/run/ovix/ovxb$tag.evt"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
A() { ip netns exec "$a" "$@"; }
B() { ip netns exec "$b" "$@"; }

ip netns add "$a"
ip netns add "$b"
ip link add "ovva$tag" type veth peer name "ovvb$tag"
ip link set "ovva$tag" netns "$a"
ip link set "ovvb$tag" netns "$b"
A ip link set lo up
B ip link set lo up
A ip addr add 198.19.0.1/24 dev "ovva$tag"
B ip addr add 198.19.0.2/24 dev "ovvb$tag"
A ip link set "ovva$tag" up
B ip link set "ovvb$tag" up

# ovix: TAP interfaces made beforehand, server on the B side.
A ip tuntap add dev "ovxa$tag" mode tap
B ip tuntap add dev "ovxb$tag" mode tap
A ip addr add 198.19.10.1/24 dev "ovxa$tag"
B ip addr add 198.19.10.2/24 dev "ovxb$tag"
A ip link set "ovxa$tag" up
B ip link set "ovxb$tag" up
B "$ovix" -s "ovxb$tag" 2>"$work/ovix-server.log" &
pids+=($!)
sleep 0.3
A "$ovix" -a 198.19.0.2 "ovxa$tag" 2>"$work/ovix-attach.log" &
pids+=($!)

# OpenVPN: TAP mode over TCP, no key, so no encryption and no authentication.
common=(--dev-type tap --ping 0 --verb 1 --disable-dco --data-ciphers none --cipher none)
B openvpn --dev "ovpb$tag" --proto tcp-server --local 198.19.0.2 --lport 1194 \
  --ifconfig 198.19.20.2 255.255.255.0 "${common[@]}" >"$work/openvpn-server.log" 2>&1 &
pids+=($!)
sleep 0.5
A openvpn --dev "ovpa$tag" --proto tcp-client --remote 198.19.0.2 1194 \
  --ifconfig 198.19.20.1 255.255.255.0 "${common[@]}" >"$work/openvpn-client.log" 2>&1 &
pids+=($!)

wait_ping() { # wait_ping ADDRESS
  for _ in $(seq 100); do A ping -c 1 -W 1 "$1" >/dev/null 2>&1 && return 0; sleep 0.2; done
  echo "no path to $1"; cat "$work"/*.log; exit 1
}
wait_ping 198.19.0.2
wait_ping 198.19.10.2
wait_ping 198.19.20.2

B iperf3 -s -D -I "$work/iperf.pid" >/dev/null
sleep 0.5
pids+=("$(cat "$work/iperf.pid")")

tcp() { # tcp ADDRESS [-R] -> Mbit/s received
  A iperf3 -c "$1" -t "$seconds" -f m ${2:-} >"$work/tcp.out" 2>&1 || { cat "$work/tcp.out" >&2; echo 0; return 0; }
  awk '/receiver$/ { for (i = 1; i < NF; i++) if ($(i + 1) == "Mbits/sec") v = $i } END { printf "%d", v }' "$work/tcp.out"
}
udp64() { # udp64 ADDRESS -> frames/s received (18-byte payload: 60-byte frame, 64 on a wire)
  B "$flood" recv 5301 $((seconds + 5)) >"$work/udp.out" &
  local receiver=$!
  sleep 0.3
  A "$flood" send "$1" 5301 "$seconds" 18 >"$work/udp.sent"
  wait $receiver
  cat "$work/udp.out"
}
rtt() { # rtt ADDRESS -> average ms
  A ping -c 50 -i 0.02 -q "$1" | sed -n 's|.*= [0-9.]*/\([0-9.]*\)/.*|\1|p'
}

# Rounds interleave the three paths, so that load from elsewhere on the machine falls on all of
# them alike; each figure is the median of its rounds.
declare -A runs result
for round in $(seq "$rounds"); do
  for path in veth ovix openvpn; do
    case $path in
      veth) target=198.19.0.2 ;;
      ovix) target=198.19.10.2 ;;
      openvpn) target=198.19.20.2 ;;
    esac
    runs[$path,ab]+=" $(tcp $target)"; sleep 0.5
    runs[$path,ba]+=" $(tcp $target -R)"; sleep 0.5
    runs[$path,udp]+=" $(udp64 $target)"; sleep 0.5
    runs[$path,rtt]+=" $(rtt $target)"
  done
  echo "round $round done" >&2
done
median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for key in "${!runs[@]}"; do
  result[$key]=$(echo "${runs[$key]}" | median)
done

table() {
  echo "ovix bridge benchmark ($(nproc) cores, ${seconds} s per run, median of $rounds rounds, $(date -u +%Y-%m-%d))"
  printf '| %-22s | %15s | %15s | %20s | %13s |\n' path "TCP A->B Mbit/s" "TCP B->A Mbit/s" "64-byte UDP frames/s" "ping RTT ms"
  printf '|%s|%s|%s|%s|%s|\n' "------------------------" "-----------------" "-----------------" "----------------------" "---------------"
  for path in veth ovix openvpn; do
    case $path in
      veth) name="veth pair (the limit)" ;;
      ovix) name="ovix" ;;
      openvpn) name="OpenVPN TAP/TCP, clear" ;;
    esac
    printf '| %-22s | %15s | %15s | %20s | %13s |\n' "$name" "${result[$path,ab]}" "${result[$path,ba]}" "${result[$path,udp]}" "${result[$path,rtt]}"
  done
  ratio() { awk -v x="$1" -v y="$2" 'BEGIN { if (y > 0) printf "%.2f", x / y; else print "-" }'; }
  echo "ovix / OpenVPN: TCP A->B $(ratio "${result[ovix,ab]}" "${result[openvpn,ab]}")x," \
       "TCP B->A $(ratio "${result[ovix,ba]}" "${result[openvpn,ba]}")x," \
       "64-byte frames $(ratio "${result[ovix,udp]}" "${result[openvpn,udp]}")x," \
       "RTT $(ratio "${result[ovix,rtt]}" "${result[openvpn,rtt]}")x"
}
table | tee ${OVIX_BENCH_OUT:+"$OVIX_BENCH_OUT"}
echo "all rounds:"
for key in $(echo "${!runs[@]}" | tr ' ' '\n' | sort); do echo "  $key:${runs[$key]}"; done
grep -q 'ovix err' "$work/ovix-attach.log" "$work/ovix-server.log" && { echo "ovix reported errors:"; cat "$work"/ovix-*.log; }
exit 0
