#!/usr/bin/env bash
# Sets up and runs the main job: the agent serving SNMP on udp:127.0.0.1:1161.
#
# Installs what is needed, builds, prepares a demonstration state directory
# (registry with the extension-agent list, the trace settings and the message
# library location; the threshold module's data with a small configuration of
# this machine's resources), then starts switchd and snmpsvc in the foreground.
# Ctrl-C stops both cleanly.  LORVETH_DEMO_DIR chooses the state directory
# (default: build-run/demo, recreated at every start).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
build=$root/build-run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLORVETH_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

demo=${LORVETH_DEMO_DIR:-$build/demo}
rm -rf "$demo"
mkdir -p "$demo/state/switchd" "$demo/run" "$demo/state/snmpsvc"
export LORVETH_STATE_DIR=$demo/state LORVETH_RUNTIME_DIR=$demo/run
cp demo/switchd/*.xml "$demo/state/switchd/"
cp demo/snmpsvc.conf "$demo/state/snmpsvc/snmpsvc.conf"

agent=$build/threshold/Lorveth_Agent.so
messages_dir=$build/lib
reg=$build/tools/reg/lorveth-reg
"$reg" add 'HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents' /v 1 \
  /d 'SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /v Pathname /d "$agent" /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Quorvath\#Setup' /v FileRoot /d "$messages_dir" /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Debug\Lorveth_Agent' /v FileDebugLevel /t REG_DWORD /d 3 /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Debug\Lorveth_Agent' /v TraceFile /d "$demo/agent-trace.txt" /f >/dev/null

pids=()
stop() {
  trap - INT TERM EXIT
  echo
  echo "Stopping..."
  # The SNMP service first, so that the agent detaches from a running switch.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -TERM "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  echo "Stopped. Agent trace: $demo/agent-trace.txt"
}
trap stop INT TERM EXIT

"$build/services/switchd/switchd" -f --data "$demo/state/switchd" &
pids+=($!)
# The agent attaches to the switch when it starts; give switchd a moment.
for _ in $(seq 50); do [[ -S $demo/run/switch.sock ]] && break; sleep 0.1; done
"$build/services/snmpsvc/snmpsvc" -f --listen udp:127.0.0.1:1161 \
  --config-dir "$demo/state/snmpsvc" &
pids+=($!)
root_oid=$(cat "$build/mibs/root-oid")
# The index of rule "cpu-high": its length, then its bytes.  A SET changes a
# row only together with the row's RowStatus: active(1) for an existing row.
cpu_high=8.99.112.117.45.104.105.103.104
# Ready once the agent answers its identity; the probe keeps Net-SNMP's files
# in the demonstration directory.
mkdir -p "$demo/net-snmp/persist/cert_indexes" "$demo/net-snmp/conf"
serving() {
  SNMP_PERSISTENT_DIR=$demo/net-snmp/persist SNMPCONFPATH=$demo/net-snmp/conf MIBS= MIBDIRS= \
    snmpget -v2c -c public -t 0.5 -r 0 -Oqv 127.0.0.1:1161 "$root_oid.1.1.1.0" 2>/dev/null |
    grep -q .
}
for _ in $(seq 60); do
  serving && break
  for pid in "${pids[@]}"; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "A service did not start (is udp:127.0.0.1:1161 already in use?)." >&2
      exit 1
    fi
  done
  sleep 0.5
done
cat <<TEXT

The agent serves SNMP on udp:127.0.0.1:1161 (community public, read-write
community private, SNMPv3 user admin).  Try, in another terminal:

  snmpwalk -v2c -c public 127.0.0.1:1161 $root_oid
  snmpget  -v2c -c public 127.0.0.1:1161 $root_oid.1.1.1.0 $root_oid.1.2.4.0
  snmpset  -v2c -c private 127.0.0.1:1161 $root_oid.1.3.1.1.2.$cpu_high s "CPU above 90%" $root_oid.1.3.1.1.23.$cpu_high i 1
  snmpwalk -v3 -l authPriv -u admin -a SHA -A lorveth-demo-auth -x AES -X lorveth-demo-priv 127.0.0.1:1161 $root_oid.1.3.1
  snmptrapd -f -Lo -C -m '' --disableAuthorization=yes udp:127.0.0.1:1162
  LORVETH_STATE_DIR=$LORVETH_STATE_DIR LORVETH_RUNTIME_DIR=$LORVETH_RUNTIME_DIR \\
    $build/services/switchd/switchctl event cpu-high 97 critical-trap
  LORVETH_STATE_DIR=$LORVETH_STATE_DIR LORVETH_RUNTIME_DIR=$LORVETH_RUNTIME_DIR \\
    $build/services/switchd/switchctl rules

The reports cpu-history and memory-history record this machine's processor
and memory load every 5 seconds.  Their records (reportValueRecordTable) and a
chart of them:

  snmpwalk -v2c -c public 127.0.0.1:1161 $root_oid.1.4.8
  LORVETH_STATE_DIR=$LORVETH_STATE_DIR LORVETH_RUNTIME_DIR=$LORVETH_RUNTIME_DIR \\
    $build/services/switchd/switchctl plot cpu-history -o $demo/cpu-history.svg

The MIB module is $build/mibs/LORVETH-THRESHOLD-MIB.txt.  Ctrl-C stops both services.
TEXT

# The first records come within 5 seconds; show them as a manager sees them.
for _ in $(seq 20); do
  "$build/services/switchd/switchctl" records cpu-history >/dev/null 2>&1 && break
  sleep 0.5
done
echo "Recorded so far (snmpwalk -v2c -c public 127.0.0.1:1161 $root_oid.1.4.8):"
snmpwalk -v2c -c public -m '' 127.0.0.1:1161 "$root_oid.1.4.8" || true
echo
wait
