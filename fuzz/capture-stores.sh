#!/usr/bin/env bash
# Captures real store traffic for the switchd_store fuzzer: runs switchd and
# snmpsvc, sends SETs of many value types to every column of a rule, creates
# and destroys rows, and writes each configuration document the agent sent to
# switchd (from its trace) as a corpus input: the table's number, then the
# document.  Existing inputs of the same content are kept once.
#
#   fuzz/capture-stores.sh [build-dir]      # writes fuzz/corpus/switchd_store/real-*
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
corpus=$PWD/fuzz/corpus/switchd_store
switchd_wrapper=() service_wrapper=()
. fuzz/start-system.sh

set_quietly() { snmpset -v2c -c private "${snmp[@]}" "$target" "$@" >/dev/null 2>&1 || true; }
row=$(index cpu-high)
fresh=$(index captured)
values=("i 7" "i 0" "i -1" "u 7" "s text" "s 90" "s ''" "x 00ff" "o .1.3.6" "a 10.0.0.1")
for column in $(seq 2 22); do
  for value in "${values[@]}"; do
    read -r type text <<< "$value"
    [[ $text == "''" ]] && text=
    set_quietly "$rule_entry.$column.$row" "$type" "$text" "$rule_entry.23.$row" i 1
  done
done
set_quietly "$rule_entry.2.$fresh" s "Captured" "$rule_entry.5.$fresh" i 30 "$rule_entry.23.$fresh" i 4
set_quietly "$rule_entry.23.$fresh" i 6

# Each document follows the trace line that announces it, up to the empty
# line that ends the trace entry.  The trace ends its lines with CR LF, so
# one CR of each line is the trace's own.
tables=(RuleSets Rules Resources Targets Events ReportSets Reports)
mkdir -p "$corpus" "$work/docs"
awk -v dir="$work/docs" '
  /XML config data:\r?$/ { n++; file = dir "/" n; keep = 1; next }
  keep && /^\r?$/ { keep = 0 }
  keep { sub(/\r$/, ""); print > file }' "$work/trace.txt"
added=0
for doc in "$work"/docs/*; do
  [[ -s $doc ]] || continue
  root_element=$(sed -n 's/^[[:space:]]*<\([A-Za-z]*\).*/\1/p' "$doc" | head -n 1)
  for ((t = 0; t < ${#tables[@]}; t++)); do
    [[ ${tables[t]} == "$root_element" ]] || continue
    input=$work/input
    { printf "\\$(printf '%03o' "$t")"; cat "$doc"; } > "$input"
    name=real-$(sha1sum "$input" | cut -c1-12)
    [[ -e $corpus/$name ]] || { cp "$input" "$corpus/$name"; added=$((added + 1)); }
  done
done
echo "$added new inputs in $corpus ($(ls "$corpus" | wc -l) in all)"
