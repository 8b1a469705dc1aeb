#!/usr/bin/env bash
# Captures real request traffic for four fuzzers: runs switchd and snmpsvc
# under strace, sends GETs, walks and SETs of every value type, creates and
# destroys a row, then writes
# - each variable of each SNMP request snmpsvc received, shaped as Net-SNMP
#   hands it over (the snmpsvc_varbind fuzzer's input: a type byte, then the
#   value), and the distinct variable names as OID text;
# - each remoting message switchd read from the agent (com_server_wire), and
#   runs of consecutive messages as one byte stream (com_stream);
# - each remoting message the agent read from switchd (com_client_wire).
# Inputs are named after their content, so running it again adds only what
# is new; each corpus gains a few dozen inputs at most.
#
#   fuzz/capture-traffic.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
traces=$(mktemp -d)
tracer=(strace -f -xx -y -s 1048576 -qq)
switchd_wrapper=("${tracer[@]}" -e trace=read -o "$traces/switchd")
service_wrapper=("${tracer[@]}" -e "trace=read,recvfrom,recvmsg" -o "$traces/snmpsvc")
. fuzz/start-system.sh
cleanup_traces() { rm -rf "$traces"; cleanup; }
trap cleanup_traces EXIT

quietly() { "$@" >/dev/null 2>&1 || true; }
row=$(index cpu-high)
fresh=$(index captured)
quietly snmpget -v1 -c public "${snmp[@]}" "$target" "$root.1.1.1.0"
quietly snmpget -v2c -c public "${snmp[@]}" "$target" "$rule_entry.2.$row" "$rule_entry.2.3.99.112"
quietly snmpgetnext -v2c -c public "${snmp[@]}" "$target" "$rule_entry.2.1.300"
quietly snmpbulkwalk -v2c -c public "${snmp[@]}" -Cr7 "$target" "$root"
quietly snmpwalk -v1 -c public "${snmp[@]}" "$target" "$root.1.3"
values=("i 7" "i -2147483648" "u 4294967295" "t 7" "a 10.0.0.1" "o .1.3.6.1"
  "s text" "s ''" "x 00ff" "d 1.2" "b 1" "U 7" "I -7" "F 1.5" "D 2.5")
for column in 2 5 9 23; do
  for value in "${values[@]}"; do
    read -r type text <<< "$value"
    [[ $text == "''" ]] && text=
    quietly snmpset -v2c -c private "${snmp[@]}" "$target" "$rule_entry.$column.$row" "$type" "$text"
  done
done
quietly snmpset -v2c -c private "${snmp[@]}" "$target" "$rule_entry.2.$fresh" s "Captured" \
  "$rule_entry.5.$fresh" i 30 "$rule_entry.23.$fresh" i 4
quietly snmpset -v2c -c private "${snmp[@]}" "$target" "$rule_entry.23.$fresh" i 6

# The traces are whole once the services have stopped.
kill "$service_pid" "$switchd_pid"
wait
python3 fuzz/capture-traffic.py "$traces" fuzz/corpus
