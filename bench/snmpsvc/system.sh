# Starts the threshold system for the scripted benchmarks (source it after
# bench/loopback.sh, with $build set): switchd holding $1 rules named
# rule-00000, rule-00001, ... and snmpsvc serving the threshold agent on a
# free loopback port, each under its own folder $work/<name>.  Sets
# threshold_port and root, and returns once the agent answers from its tables.
#
#   start_threshold_system <name> <rules>
start_threshold_system() {
  local name=$1 rules=$2 dir=$work/$1
  local service=$build/services/snmpsvc/snmpsvc switchd=$build/services/switchd/switchd
  local reg=$build/tools/reg/lorveth-reg agent=$build/threshold/Lorveth_Agent.so
  local f
  for f in "$service" "$switchd" "$reg" "$agent" "$build/mibs/root-oid"; do
    [[ -e $f ]] || { echo "build first: $f" >&2; exit 1; }
  done
  root=$(cat "$build/mibs/root-oid")  # the threshold agent's subtree in this build
  threshold_port=$(free_port)
  mkdir -p "$dir/state/switchd" "$dir/state/snmpsvc" "$dir/run"
  cp demo/switchd/*.xml "$dir/state/switchd/"
  awk -v n="$rules" 'BEGIN {
    print "<Rules Modified=\"12/01/2026 09:00:00\">"
    for (i = 0; i < n; i++)
      printf "<Rule Name=\"rule-%05d\"><Description>Rule %d</Description><Interval>60</Interval>" \
             "<Resource Name=\"cpu-load\"/><Target Name=\"localhost\"/><Threshold Type=\"absolute\" " \
             "Operator=\"greater\" Value=\"%d\"/><Event Name=\"minor-trap\"/></Rule>\n", i, i, i % 100
    print "</Rules>" }' > "$dir/state/switchd/Rules.xml"
  printf 'rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n' \
    > "$dir/state/snmpsvc/snmpsvc.conf"
  (
    export LORVETH_STATE_DIR=$dir/state LORVETH_RUNTIME_DIR=$dir/run
    "$reg" add 'HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents' /v 1 \
      /d 'SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /f >/dev/null
    "$reg" add 'HKLM\SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /v Pathname \
      /d "$(realpath "$agent")" /f >/dev/null
  )
  LORVETH_STATE_DIR=$dir/state LORVETH_RUNTIME_DIR=$dir/run \
    "$switchd" -f --data "$dir/state/switchd" > "$dir/switchd.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do [[ -S $dir/run/switch.sock ]] && break; sleep 0.1; done
  LORVETH_STATE_DIR=$dir/state LORVETH_RUNTIME_DIR=$dir/run \
    "$service" -f --listen "udp:127.0.0.1:$threshold_port" \
    --config-dir "$dir/state/snmpsvc" > "$dir/snmpsvc.log" 2>&1 &
  pids+=($!)
  # The agent answers once it has loaded every table from switchd.
  for _ in $(seq 1 300); do
    [[ $(snmpget -v2c -c public -t 1 -r 0 -Oqv "127.0.0.1:$threshold_port" \
         "$root.1.3.2.0" 2>/dev/null) =~ ^[0-9]+$ ]] && return 0
    sleep 0.2
  done
  echo "the threshold agent on port $threshold_port did not answer" >&2
  exit 1
}

# The OID index of a rule: its name as a length-prefixed string.
rule_index() {
  local name=$1 index=${#1} i
  for ((i = 0; i < ${#name}; i++)); do index+=.$(printf '%d' "'${name:i:1}"); done
  echo "$index"
}
