#!/usr/bin/env bash
# The SET round trip of the threshold agent under snmpsvc with switchd, at
# 1,000 and 10,000 rules: snmpset of one rule's description (with its row
# status), the store in switchd, the change event, the agent's reload of the
# rule table, until snmpget sees the new value.  Then, while a loop of such
# SETs keeps the agent reloading, the longest of a series of snmpget requests
# on a configuration cell against the same requests without reloads.  Times
# include the start-up of the Net-SNMP tools (the "idle" line shows it).
#
#   bench/snmpsvc/setroundtrip.sh [build-dir] [repetitions] [rule counts...]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
reps=${2:-5}
shift 2 2>/dev/null || shift $#
counts=("$@")
[[ ${#counts[@]} -gt 0 ]] || counts=(1000 10000)

. bench/loopback.sh
. bench/snmpsvc/system.sh
mkdir -p "$work/tools"

now_ms() { date +%s%3N; }
# For bench/run-all: one figure per line.
figure() {  # label value unit
  [[ -z ${BENCH_FIGURES:-} ]] || printf 'setroundtrip.sh\t%s\t%s\t%s\n' "$1" "$2" "$3" >> "$BENCH_FIGURES"
}

# Milliseconds from the snmpset until snmpget shows the value.
round_trip() {  # port description-oid status-oid value
  local start end
  start=$(now_ms)
  snmpset -v2c -c private -t 5 -r 0 "127.0.0.1:$1" "$2" s "$4" "$3" i 1 >/dev/null
  until [[ $(snmpget -v2c -c public -t 5 -r 0 -Oqv "127.0.0.1:$1" "$2") == "\"$4\"" ]]; do :; done
  end=$(now_ms)
  echo $((end - start))
}

# The longest of n snmpget requests, in milliseconds.
longest_get() {  # port oid n
  local longest=0 start took
  for _ in $(seq 1 "$3"); do
    start=$(now_ms)
    snmpget -v2c -c public -t 5 -r 0 "127.0.0.1:$1" "$2" >/dev/null
    took=$(($(now_ms) - start))
    ((took > longest)) && longest=$took
  done
  echo "$longest"
}

printf 'SET round trip (snmpset .. snmpget sees it), best and median of %d, loopback\n' "$reps"
for rules in "${counts[@]}"; do
  start_threshold_system "set$rules" "$rules"
  index=$(rule_index "rule-$(printf '%05d' $((rules / 2)))")
  description=$root.1.3.1.1.2.$index
  status=$root.1.3.1.1.23.$index
  times=()
  for k in $(seq 1 "$reps"); do
    times+=("$(round_trip "$threshold_port" "$description" "$status" "set-$k")")
  done
  sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  printf '  %5d rules: best %5d ms, median %5d ms\n' "$rules" "${sorted[0]}" \
    "${sorted[$((reps / 2))]}"
  figure "SET round trip, $rules rules, median" "${sorted[$((reps / 2))]}" ms

  # Reloads in a loop beside a series of GET requests.
  probe=$root.1.3.1.1.2.$(rule_index "rule-00001")
  idle=$(longest_get "$threshold_port" "$probe" 20)
  (
    k=0
    while :; do
      k=$((k + 1))
      snmpset -v2c -c private -t 5 -r 0 "127.0.0.1:$threshold_port" "$description" s "loop-$k" \
        "$status" i 1 >/dev/null 2>&1 || true
    done
  ) &
  loop=$!
  busy=$(longest_get "$threshold_port" "$probe" 40)
  kill "$loop" 2>/dev/null || true
  wait "$loop" 2>/dev/null || true
  printf '  %5d rules: longest GET during a reload loop %5d ms (idle %d ms)\n' "$rules" "$busy" \
    "$idle"
  figure "longest GET during reloads, $rules rules" "$busy" ms
  figure "longest GET without reloads, $rules rules" "$idle" ms
done
