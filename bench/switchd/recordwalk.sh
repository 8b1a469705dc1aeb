#!/usr/bin/env bash
# Reading recorded report values over SNMP: snmpbulkwalk of reportValueRecordTable
# through snmpsvc and the threshold agent, with switchd holding one report of
# N records (default 100,000).  Each record is one read command from the agent
# to switchd, answered by one indexed lookup.  Prints records per second.
#
#   bench/switchd/recordwalk.sh [build-dir] [records] [repetitions]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
records=${2:-100000}
reps=${3:-3}
service=$build/services/snmpsvc/snmpsvc
agent=$build/threshold/Lorveth_Agent.so
switchd=$build/services/switchd/switchd
reg=$build/tools/reg/lorveth-reg
for f in "$service" "$agent" "$switchd" "$reg" "$build/mibs/root-oid"; do
  [[ -e $f ]] || { echo "build first: $f" >&2; exit 1; }
done
command -v sqlite3 >/dev/null || { echo "needs the sqlite3 command" >&2; exit 1; }

. bench/loopback.sh
export LORVETH_STATE_DIR=$work/state LORVETH_RUNTIME_DIR=$work/run
data=$work/state/switchd
mkdir -p "$work/tools" "$data" "$work/state/snmpsvc" "$work/run"

# One report in no report set: it keeps its records and records no more.
cp demo/switchd/Resources.xml demo/switchd/Targets.xml "$data/"
printf '<Reports><Report Name="walked"><Resource Name="cpu-load"/></Report></Reports>\n' \
  > "$data/Reports.xml"
# The records, written as switchd's recorder keeps them (see RecordStore.cpp).
sqlite3 "$data/records.db" >/dev/null <<SQL
PRAGMA journal_mode=WAL;
CREATE TABLE reports(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE records(report INTEGER NOT NULL, seq INTEGER NOT NULL, text TEXT NOT NULL,
                     PRIMARY KEY(report, seq)) WITHOUT ROWID;
INSERT INTO reports VALUES(1, 'walked');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $records)
INSERT INTO records
  SELECT 1, i, strftime('%Y-%m-%d %H:%M:%S', 1772352000 + i * 5, 'unixepoch') || ' ' || (i % 100) || ' %'
  FROM n;
SQL

"$reg" add 'HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents' /v 1 \
  /d 'SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /v Pathname \
  /d "$(realpath "$agent")" /f >/dev/null
printf 'rocommunity public 127.0.0.1\n' > "$work/state/snmpsvc/snmpsvc.conf"
port=$(free_port)
"$switchd" -f --data "$data" > "$work/switchd.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [[ -S $work/run/switch.sock ]] && break; sleep 0.1; done
"$service" -f --listen "udp:127.0.0.1:$port" --config-dir "$work/state/snmpsvc" \
  > "$work/snmpsvc.log" 2>&1 &
pids+=($!)

root=$(cat "$build/mibs/root-oid")  # the threshold agent's subtree in this build
# The agent answers once it has loaded the tables: the report's highest record number.
index="6.119.97.108.107.101.100"  # "walked"
for _ in $(seq 1 300); do
  [[ $(snmpget -v2c -c public -t 1 -r 0 -Oqv "127.0.0.1:$port" "$root.1.4.7.1.1.$index" \
       2>/dev/null) == "$records" ]] && break
  sleep 0.2
done

best_rate=0
best=""
for _ in $(seq 1 "$reps"); do
  start=$(date +%s.%N)
  n=$(snmpbulkwalk -v2c -c public -Cr50 -On -t 10 -r 0 "127.0.0.1:$port" "$root.1.4.8" |
      grep -c ' = STRING: ')
  end=$(date +%s.%N)
  secs=$(calc "$end - $start")
  if [[ $(calc "($n / $secs > $best_rate) ? 1 : 0") == 1 ]]; then
    best_rate=$(calc "$n / $secs")
    best="$n $secs"
  fi
done
read -r n secs <<< "$best"
printf 'snmpbulkwalk -Cr50 of reportValueRecordTable, best of %d, loopback\n' "$reps"
printf '  one report of %d records: %d records in %.3f s = %.0f records/s\n' \
  "$records" "$n" "$secs" "$(calc "$n / $secs")"
