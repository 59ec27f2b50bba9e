# Shared by the end-to-end scripts, which run inside scripts/netns-run (host namespace).
# Source it after setting `src` (the source tree); it sets `work` and `failures`.
work=${VELMORA_NS_WORK:?run me through scripts/netns-run}
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
show() { echo "---- $1"; tr -d '\r' <"$1"; echo "----"; }
expect_in() { # expect_in FILE REGEX WHAT
  tr -d '\r' <"$1" | grep -Eq -- "$2" || { fail "$3"; show "$1"; }
}
wait_for_line() { # wait_for_line FILE REGEX SECONDS
  for _ in $(seq $(($3 * 10))); do
    [ -f "$1" ] && tr -d '\r' <"$1" | grep -Eq -- "$2" && return 0
    sleep 0.1
  done
  return 1
}
wine_run() { "$src/scripts/wine-exec" "$@"; }

# Wine's adapter table lists prefixes only while the default route has a gateway.
use_appliance_gateway() {
  local dev
  dev=$(ip -o link show | awk -F': ' '$2 ~ /^vh/ {print $2}' | cut -d@ -f1)
  ip route replace default via "$VELMORA_APPLIANCE_IP" dev "$dev"
}

# netns-run gives a private prefix copied from VELMORA_WINE_TEMPLATE; without one, make it here.
private_wine_prefix() {
  if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    "$src/scripts/wine-prefix" "$WINEPREFIX"
  fi
}

# The appliance simulator: VELMORA_APPLIANCE_SIM, else build/native's, built there when missing.
simulator_path() {
  sim=${VELMORA_APPLIANCE_SIM:-$src/build/native/tools/appliance-sim/appliance-sim}
  if [ ! -x "$sim" ]; then
    (cd "$src" && cmake --preset native >/dev/null &&
      cmake --build --preset native --target appliance-sim >/dev/null) ||
      { echo "cannot build the appliance simulator"; exit 1; }
  fi
}

# listen PORT FILE: in the background ($! is its pid), accepts one connection on 127.0.0.1:PORT
# and stores what it receives in FILE.
listen() {
  python3 - "$1" "$2" <<'PY' &
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(1); s.settimeout(120)
c, _ = s.accept(); data = b""
while True:
    b = c.recv(4096)
    if not b: break
    data += b
open(sys.argv[2], "wb").write(data)
PY
}

# finish NAME: the script's verdict and exit code.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$1: $failures failure(s)"
    exit 1
  fi
  echo "$1: all scenarios passed"
  exit 0
}
