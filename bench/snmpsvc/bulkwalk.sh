#!/usr/bin/env bash
# snmpbulkwalk -Cr50 throughput, all on loopback in the same run, of
#  (a) snmpsvc serving the threshold agent, with switchd holding $rows rules
#      (every threshRuleCurrentValue cell asks the threshold module),
#  (b) the distribution's snmpd serving a table of the same shape and size from
#      memory through a MIB module loaded with dlmod (rule_table_module.so,
#      Net-SNMP's table data helper): the yardstick,
#  (c) snmpsvc serving the test agent's table of $rows rows (11 columns),
#  (d) snmpd walking its own small tree (mostly process start-up).
# Prints varbinds per second of each, the threshold agent one column at a time
# (a configuration column and the current-value column), and the ratios.
#
#   bench/snmpsvc/bulkwalk.sh [build-dir] [rows] [repetitions]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rows=${2:-10000}
reps=${3:-3}
service=$build/services/snmpsvc/snmpsvc
agent=$build/tests/services/snmpsvc/libsnmpsvc_test_agent.so
module=$build/bench/rule_table_module.so
for f in "$service" "$agent" "$module"; do
  [[ -e $f ]] || { echo "build first: $f" >&2; exit 1; }
done

. bench/loopback.sh
mkdir -p "$work/tools" "$work/state/snmpsvc"

wait_up() {  # port
  for _ in $(seq 1 100); do
    snmpget -v2c -c public -t 0.3 -r 0 "127.0.0.1:$1" 1.3.6.1.2.1.1.3.0 >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "agent on port $1 did not answer" >&2
  exit 1
}

# Best of $reps: prints "varbinds seconds client-cpu-seconds", the last being
# what snmpbulkwalk itself spent (decoding and printing), which the walk waits
# for between its requests.
measure() {  # port root
  local best_rate=0 best="" n start end secs cpu
  for _ in $(seq 1 "$reps"); do
    start=$(date +%s.%N)
    cpu=$( { TIMEFORMAT='%U %S'; time snmpbulkwalk -v2c -c public -Cr50 -On -t 10 -r 0 \
      "127.0.0.1:$1" "$2" > "$work/walk.out"; } 2>&1 | awk '{ print $1 + $2 }')
    end=$(date +%s.%N)
    n=$(wc -l < "$work/walk.out")
    secs=$(calc "$end - $start")
    if [[ $(calc "($n / $secs > $best_rate) ? 1 : 0") == 1 ]]; then
      best_rate=$(calc "$n / $secs")
      best="$n $secs $cpu"
    fi
  done
  echo "$best"
}

svc_port=$(free_port)
printf 'rocommunity public 127.0.0.1\n' > "$work/state/snmpsvc/snmpsvc.conf"
LORVETH_TEST_AGENT_ROWS=$rows \
  "$service" -f --agent "$agent" --listen "udp:127.0.0.1:$svc_port" > "$work/snmpsvc.log" 2>&1 &
pids+=($!)

snmpd_port=$(free_port)
printf 'agentaddress udp:127.0.0.1:%s\nrocommunity public 127.0.0.1\n' "$snmpd_port" > "$work/snmpd.conf"
/usr/sbin/snmpd -f -Lo -C -c "$work/snmpd.conf" -I -smux > "$work/snmpd.log" 2>&1 &
pids+=($!)

# The yardstick: snmpd with the rule-table module and nothing else to log.
module_port=$(free_port)
module_oid=.1.3.6.1.4.1.55555.7.1
printf 'agentaddress udp:127.0.0.1:%s\nrocommunity public 127.0.0.1\ndontLogTCPWrappersConnects yes\ndlmod rule_table_module %s\n' \
  "$module_port" "$(realpath "$module")" > "$work/snmpd-module.conf"
RULE_TABLE_ROWS=$rows RULE_TABLE_OID=$module_oid \
  /usr/sbin/snmpd -f -Lo -C -c "$work/snmpd-module.conf" -I -smux > "$work/snmpd-module.log" 2>&1 &
pids+=($!)

# The threshold agent: switchd with a rule table of $rows rules.
. bench/snmpsvc/system.sh
start_threshold_system real "$rows"
real_port=$threshold_port

wait_up "$svc_port"
wait_up "$snmpd_port"
wait_up "$module_port"

read -r real_n real_s real_cpu < <(measure "$real_port" "$root")
read -r module_n module_s module_cpu < <(measure "$module_port" "$module_oid")
read -r name_n name_s _ < <(measure "$real_port" "$root.1.3.1.1.2")
read -r current_n current_s _ < <(measure "$real_port" "$root.1.3.1.1.25")
read -r svc_n svc_s _ < <(measure "$svc_port" 1.3.6.1.4.1.55555.1)
read -r snmpd_n snmpd_s _ < <(measure "$snmpd_port" .1)

rate() { calc "$1 / $2"; }
real_rate=$(rate "$real_n" "$real_s")
module_rate=$(rate "$module_n" "$module_s")
line() {  # label varbinds seconds
  printf '  %-44s %7d varbinds in %6.3f s = %9.0f varbinds/s\n' "$1" "$2" "$3" "$(rate "$2" "$3")"
}
printf 'snmpbulkwalk -Cr50, best of %d, loopback, %d rows\n' "$reps" "$rows"
line "snmpsvc + threshold agent:" "$real_n" "$real_s"
line "snmpd + rule-table module (table helper):" "$module_n" "$module_s"
line "  threshold agent, description column:" "$name_n" "$name_s"
line "  threshold agent, current-value column:" "$current_n" "$current_s"
line "snmpsvc + test agent:" "$svc_n" "$svc_s"
line "snmpd, its own small tree:" "$snmpd_n" "$snmpd_s"
printf '  ratio threshold agent / rule-table module: %.2f\n' "$(calc "$real_rate / $module_rate")"
printf '  per varbind: description column %.1f us, current-value column %.1f us\n' \
  "$(calc "$name_s / $name_n * 1e6")" "$(calc "$current_s / $current_n * 1e6")"
printf '  snmpbulkwalk itself: %.2f s CPU of the threshold walk, %.2f s of the module walk\n' \
  "$real_cpu" "$module_cpu"
# For bench/run-all: one figure per line.
if [[ -n ${BENCH_FIGURES:-} ]]; then
  {
    printf 'bulkwalk.sh\tthreshold agent, %d rules\t%.0f\tvarbinds/s\n' "$rows" "$real_rate"
    printf 'bulkwalk.sh\trule-table module in snmpd, %d rows\t%.0f\tvarbinds/s\n' "$rows" \
      "$module_rate"
    printf 'bulkwalk.sh\tratio threshold agent / module\t%.2f\t-\n' "$(calc "$real_rate / $module_rate")"
    printf 'bulkwalk.sh\tsnmpbulkwalk CPU in the module walk\t%.2f\ts\n' "$module_cpu"
    printf 'bulkwalk.sh\tthreshold agent, description column\t%.1f\tus/varbind\n' \
      "$(calc "$name_s / $name_n * 1e6")"
    printf 'bulkwalk.sh\tthreshold agent, current-value column\t%.1f\tus/varbind\n' \
      "$(calc "$current_s / $current_n * 1e6")"
    printf 'bulkwalk.sh\ttest agent, %d rows\t%.0f\tvarbinds/s\n' "$rows" "$(rate "$svc_n" "$svc_s")"
    printf 'bulkwalk.sh\tsnmpd, its own small tree\t%.0f\tvarbinds/s\n' "$(rate "$snmpd_n" "$snmpd_s")"
  } >> "$BENCH_FIGURES"
fi
