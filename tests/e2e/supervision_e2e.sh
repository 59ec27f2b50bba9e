#!/usr/bin/env bash
# Runs inside scripts/netns-run (host namespace): the status poll of a test VM backend
# (poll-driver.exe under Wine, real Winsock transport, real registry and CryptoAPI) against the
# appliance simulator in the appliance namespace. One driver process runs every phase, so the
# poll's state carries over; between phases it waits ("AWAIT") while this script changes the
# simulator and checks what the host sent.
#   supervision_e2e.sh POLL_DRIVER_EXE SAMPLE_VMX
# The simulator is VELMORA_APPLIANCE_SIM, else build/native's, built there when missing.
set -u
driver=${1:?poll-driver.exe}
sample=${2:?sample VMX}
src=$(cd "$(dirname "$0")/../.." && pwd)
. "$src/tests/e2e/lib.sh"
expect_not_in() { # expect_not_in FILE REGEX WHAT
  if tr -d '\r' <"$1" | grep -Eq -- "$2"; then fail "$3"; show "$1"; fi
}
count_in() { tr -d '\r' <"$1" | grep -Ec -- "$2"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

use_appliance_gateway

private_wine_prefix

simulator_path

# ---- The host's name, the VM's file and UUID: the host key's three ingredients ----
hostname=velmora-e2e-host
params='HKLM\System\CurrentControlSet\Services\Tcpip\Parameters'
wine_run reg add "$params" /v Hostname /t REG_SZ /d "$hostname" /f >/dev/null 2>&1 ||
  fail "cannot set the host name"
vmx=$work/supervision.vmx
cp "$sample" "$vmx"
vmx_win=$(winpath "$vmx")
uuid_hex=$(tr -d '\r' <"$vmx" | sed -nE 's/^uuid\.bios = "([^"]*)".*/\1/p' | tr -d ' -')
expected_key=$(python3 -c 'import hashlib,sys; print(hashlib.md5(sys.argv[1].encode()+sys.argv[2].encode()+bytes.fromhex(sys.argv[3])).hexdigest())' \
  "$hostname" "$vmx_win" "$uuid_hex")

# ---- The simulator, reconfigured between phases (SIGHUP) ----
cfg=$work/sim.conf
simlog=$work/sim.log
write_cfg() { # write_cfg [extra config lines...]
  {
    echo "mac = 00:0c:29:e2:e2:01"
    echo "product = Velmora E2E Appliance"
    echo "firmware = 9.8.7"
    echo "device_name = e2e-appliance"
    echo "serial_number = E2E-SN-0001"
    echo "quorvane_status = Connected"
    echo "ostrel_connection = online"
    echo "serial_config = 198.18.0.2:7000 9600,8,N,1"
    echo "usbip_config = 198.18.0.2 1-1"
    echo "layer2_config = 198.18.0.2:1200"
    echo "off_file = $work/appliance.off"
    printf '%s\n' "$@"
  } >"$cfg"
}
reload() { # reload [extra config lines...]
  write_cfg "$@"
  local before
  before=$(grep -c RELOADED "$simlog")
  kill -HUP "$simpid"
  for _ in $(seq 100); do
    [ "$(grep -c RELOADED "$simlog")" -gt "$before" ] && return 0
    sleep 0.05
  done
  fail "simulator did not reload"
}
write_cfg "script = [noop] e2e"
: >"$simlog"
ip netns exec "$VELMORA_NS_APPLIANCE" "$sim" --config "$cfg" --log "$simlog" &
simpid=$!
for _ in $(seq 50); do grep -q READY "$simlog" && break; sleep 0.1; done
grep -q READY "$simlog" || { fail "simulator did not start"; show "$simlog"; }

out=$work/driver.out
drvpid=
cleanup() {
  [ -n "$drvpid" ] && kill "$drvpid" 2>/dev/null
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

go() { printf '%s' "$(winpath "$work/go-$1")"; }
# The log since phase marks: lines after the mark's line count.
mark() { wc -l <"$simlog"; }
since() { tail -n +"$(($1 + 1))" "$simlog" >"$work/since.log"; echo "$work/since.log"; }
# Waits for the driver to reach "AWAIT" of a phase (or to end).
await() {
  for _ in $(seq 600); do
    tr -d '\r' 2>/dev/null <"$out" | grep -q "^AWAIT .*go-$1\$" && return 0
    kill -0 "$drvpid" 2>/dev/null || break
    sleep 0.1
  done
  fail "driver never reached phase $1"; show "$out"; return 1
}
release() { touch "$work/go-$1"; }
last_poll() { tr -d '\r' <"$out" | grep '^POLL ' | tail -n 1; }
expect_poll() { # expect_poll REGEX WHAT
  last_poll | grep -Eq -- "$1" || { fail "$2: $(last_poll)"; }
}

wine_run "$driver" "$vmx_win" \
  poll show await "$(go a1)" \
  poll await "$(go a2)" \
  poll await "$(go a3)" \
  poll await "$(go a4)" \
  poll await "$(go a5)" \
  poll await "$(go a6)" \
  link fail poll await "$(go a7)" \
  link real poll await "$(go a8)" \
  preload poll show await "$(go a9)" \
  poll show await "$(go a10)" \
  link fail poll link real poll await "$(go a11)" \
  >"$out" 2>&1 &
drvpid=$!

# 1. First good poll: Running, identity sent with the right key, appliance keys written once.
await a1 && {
  expect_poll '^POLL result=0 state=5 target=198\.18\.0\.2 pending=0$' "first poll Running with the target"
  expect_in "$out" "^CONFIGURE result=0 path=\"$(printf '%s' "$vmx_win" | sed 's/\\/\\\\/g')\"\$" \
    "configured with the VMX path"
  identity=$(tr -d '\r' <"$simlog" | grep ' RX .*kind=identity' | head -n 1)
  [ -n "$identity" ] || { fail "no identity request"; show "$simlog"; }
  case "$identity" in *"IMCC flags=0x000F0002 "*) ;; *) fail "identity flags: $identity" ;; esac
  case "$identity" in *"text=\"$hostname\""*) ;; *) fail "identity text: $identity" ;; esac
  key=$(printf '%s' "$identity" | sed -nE 's/.* hostkey=([0-9a-f]+).*/\1/p')
  [ "$key" = "$expected_key" ] || fail "host key $key, expected MD5(host name + VMX path + UUID) $expected_key"
  block1=$(printf '%s' "$identity" | sed -nE 's/.* block128=([0-9a-f]+).*/\1/p')
  [ "${#block1}" = 256 ] || fail "the random block is not 128 bytes: ${#block1} hex digits"
  stamp=$(printf '%s' "$identity" | sed -nE 's/.* time=([0-9]+).*/\1/p')
  now=$(date +%s)
  [ -n "$stamp" ] && [ $((now - stamp)) -le 120 ] && [ $((stamp - now)) -le 120 ] ||
    fail "time stamp $stamp is not the current time $now"
  expect_in "$simlog" 'SET F000\.F090 = "127"' "identity accepted: F090 set to 127"
  [ "$(count_in "$simlog" ' RX .*vb=0200\.0280:null')" = 1 ] || { fail "serial number queried once"; show "$simlog"; }
  for kv in 'appliance.serialno = "E2E-SN-0001"' 'appliance.hostname = "e2e-appliance"' \
            'appliance.productname = "Velmora E2E Appliance"'; do
    [ "$(count_in "$vmx" "^${kv//./\\.}\$")" = 1 ] || { fail "VMX line $kv once"; show "$vmx"; }
  done
  [ -e "$vmx.tmp" ] && fail "a .tmp file was left"
  expect_in "$out" '^SHOW product="Velmora E2E Appliance" device="e2e-appliance" firmware="9\.8\.7" serialno="E2E-SN-0001"$' \
    "status values recorded"
  expect_in "$out" '^SHOW quorvane="Connected" ostrel="online"$' "status texts recorded"
  expect_in "$out" '^SCRIPT "\[noop\] e2e"$' "the queued script command was run"
  vmx_sum=$(md5sum <"$vmx")
  m=$(mark)
  release a1
}

# 2. Second poll: nothing written, no identity, a script query of length 0 runs nothing.
await a2 && {
  expect_poll '^POLL result=0 state=5 ' "second poll Running"
  [ "$(md5sum <"$vmx")" = "$vmx_sum" ] || { fail "the second poll changed the VMX file"; show "$vmx"; }
  s=$(since "$m")
  expect_not_in "$s" 'kind=identity|vb=0200\.0280|SET ' "the second poll sent no identity and wrote nothing"
  expect_in "$s" ' RX .*to=198\.18\.0\.2 .*kind=status' "the second status request is directed"
  expect_in "$s" ' TX .*vb=F000\.F080:octets""' "the script query answered with length 0"
  [ "$(count_in "$out" '^SCRIPT ')" = 1 ] || { fail "a script command of length 0 was run"; show "$out"; }
  reload "status_flags = 0x20000"
  m=$(mark)
  release a2
}

# 3. Flag 0x20000 in the status reply: the identity again, without PDU, with a fresh block.
await a3 && {
  expect_poll '^POLL result=0 state=5 ' "Running with 0x20000"
  s=$(since "$m")
  again=$(tr -d '\r' <"$s" | grep ' RX .*kind=identity' | head -n 1)
  case "$again" in *"IMCC flags=0x000F0002 "*) ;; *) fail "identity resent without PDU: $again"; show "$s" ;; esac
  block2=$(printf '%s' "$again" | sed -nE 's/.* block128=([0-9a-f]+).*/\1/p')
  [ -n "$block2" ] && [ "$block2" != "$block1" ] || fail "the second identity reused the random block"
  expect_in "$s" ' RX .*vb=0200\.0280:null' "serial number asked with the identity"
  reload "status_flags = 0x40000000"
  m=$(mark)
  release a3
}

# 4. 0x40000000 alone sends nothing; then the appliance falls silent.
await a4 && {
  expect_not_in "$(since "$m")" 'kind=identity' "0x40000000 alone sent an identity"
  touch "$work/appliance.off"
  release a4
}

# 5. Silence: Running becomes Starting, the target is cleared, the identity is pending again,
#    the DNS suffix list is restored.
await a5 && {
  expect_poll '^POLL result=3 state=4 target=none pending=1$' "silence turns Running into Starting"
  [ "$(count_in "$out" '^SUFFIX restore$')" -ge 1 ] || fail "DNS suffix list not restored on silence"
  rm -f "$work/appliance.off"
  m=$(mark)
  release a5
}

# 6. Back: broadcast again (target unknown), identity with the 0x8800/0x0320 query.
await a6 && {
  expect_poll '^POLL result=0 state=5 target=198\.18\.0\.2 pending=0$' "Running again after silence"
  s=$(since "$m")
  expect_in "$s" ' RX .*to=255\.255\.255\.255 .*kind=status' "status broadcast while the target is unknown"
  expect_in "$s" ' RX .*IMCC flags=0x800F0002 .*kind=identity .*pdu=A0 .*community=":" vb=8800\.0320:null' \
    "identity with the 0x8800/0x0320 varbind"
  reload
  release a6
}

# 7. A failed link check: the appliance answered, yet the poll counts as failed.
await a7 && {
  expect_poll '^POLL result=0 state=4 target=none pending=1$' "failed checkLink turns Running into Starting"
  [ "$(count_in "$out" '^SUFFIX restore$')" -ge 2 ] || fail "DNS suffix list not restored on a failed link check"
  m=$(mark)
  release a7
}

# 8. The real link check (198.18.0.1/24 holds 198.18.0.2): Running, identity without 0x20000.
await a8 && {
  expect_poll '^POLL result=0 state=5 target=198\.18\.0\.2 pending=0$' "Running with the real link check"
  s=$(since "$m")
  expect_in "$s" ' RX .*IMCC flags=0x000F0002 .*kind=identity' "identity after the outage without 0x20000"
  release a8
}

# 9. Configurations while no route is installed: fetched, but held back from their owners.
await a9 && {
  expect_in "$out" '^SHOW serialConfig="198\.18\.0\.2:7000 9600,8,N,1" usbipConfig="198\.18\.0\.2 1-1" layer2Config="198\.18\.0\.2:1200"$' \
    "configurations fetched"
  expect_in "$out" '^SHOW owners serial="preloaded serial" usbip="preloaded usbip" layer2="preloaded layer2"$' \
    "configurations held back while no route is installed"
  reload "ostrel_connection ="
  m=$(mark)
  release a9
}

# 10. Ostrel text empty: the configurations are not asked for, they are empty and handed over.
await a10 && {
  s=$(since "$m")
  expect_not_in "$s" 'vb=F000\.F09[134]' "configurations asked for with an empty Ostrel text"
  expect_in "$out" '^SHOW serialConfig="" usbipConfig="" layer2Config=""$' "configurations emptied"
  expect_in "$out" '^SHOW owners serial="" usbip="" layer2=""$' "empty configurations handed over"
  wine_run reg delete "$params" /v Hostname /f >/dev/null 2>&1 || fail "cannot delete the host name"
  m=$(mark)
  release a10
}

# 11. No "Hostname": the poll stops after the failed identity with the registry's error (2),
#     Running, identity still pending, nothing queried after the status request.
await a11 && {
  expect_poll '^POLL result=2 state=5 target=198\.18\.0\.2 pending=1$' "missing Hostname ends the poll with 2"
  s=$(since "$m")
  last_status=$(grep -n ' RX .*kind=status' "$s" | tail -n 1 | cut -d: -f1)
  tail -n +"${last_status:-1}" "$s" | grep -Eq ' RX .*kind=(identity|get)' &&
    fail "something was sent after the status request of the failed identity poll"
  release a11
}

wait "$drvpid" || fail "driver exited with $?"
drvpid=
[ "$failures" -ne 0 ] && show "$out"
finish "supervision e2e"
