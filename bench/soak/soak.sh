#!/usr/bin/env bash
# Soak: the whole system under steady load for a while, failing on errors and
# on leaks, never on speed.
#
# switchd holds the demonstration tables plus 1,000 rules that poll this
# machine's resources every 10 seconds; snmpsvc serves the threshold agent.
# For the duration of the run:
#   - four loops walk the agent's whole subtree with snmpbulkwalk;
#   - one loop creates, changes and destroys a rule row with snmpset;
#   - one loop sends threshold events with switchctl, 10 a second;
#   - both services' resident memory and open descriptors are sampled.
# The run fails if any request gets no answer or an error, a walk is out of
# order or misses rows that exist all along (a half-loaded table), a service
# dies or stops uncleanly, a sanitizer reports, or the memory or the
# descriptors of a service grow by more than 50 % from the first tenth of the
# run to the last.  It prints the request rates held and the growth.
#
#   bench/soak/soak.sh [seconds] [build-dir]      # default: 60 s, build
#
# An hour against the sanitizer build (configured with
# -DLORVETH_SANITIZE=address,undefined):
#   bench/soak/soak.sh 3600 build-asan
set -euo pipefail
cd "$(dirname "$0")/../.."
duration=${1:-60}
build=${2:-build}
rules=1000
service=$build/services/snmpsvc/snmpsvc
agent=$(realpath "$build/threshold/Lorveth_Agent.so")
switchd=$build/services/switchd/switchd
switchctl=$build/services/switchd/switchctl
reg=$build/tools/reg/lorveth-reg
for f in "$service" "$agent" "$switchd" "$switchctl" "$reg" "$build/mibs/root-oid"; do
  [[ -e $f ]] || { echo "build first: $f" >&2; exit 1; }
done
root=$(cat "$build/mibs/root-oid")
rule_entry=$root.1.3.1.1

. bench/loopback.sh
data=$work/state/switchd
mkdir -p "$data" "$work/state/snmpsvc" "$work/errors" "$work/counts"
# A sanitizer report goes to the service's log and ends the service.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# The demonstration tables, with $rules more rules in a rule set that is
# always on.
cp demo/switchd/*.xml "$data/"
resources=(cpu-load memory-used load-1min)
{
  sed '$d' demo/switchd/Rules.xml
  for ((i = 0; i < rules; i++)); do
    printf '<Rule Name="soak-%04d"><Description>Soak rule %d</Description><Interval>10</Interval>' \
      "$i" "$i"
    printf '<Resource Name="%s"/><Target Name="localhost"/>' "${resources[i % 3]}"
    printf '<Threshold Type="absolute" Valuation="single-value" Operator="greater" Value="%d"/>' \
      $((i % 100))
    printf '<Event Name="info-trap" Control="single-shot"/></Rule>\n'
  done
  echo '</Rules>'
} > "$data/Rules.xml"
{
  sed '$d' demo/switchd/RuleSets.xml
  echo '<RuleSet Name="soak"><Description>Soak rules</Description>'
  echo '<Schedule Start="00:00" Stop="24:00"/>'
  for ((i = 0; i < rules; i++)); do printf '<Rule Name="soak-%04d"/>\n' "$i"; done
  echo '<Status>enable</Status></RuleSet>'
  echo '</RuleSets>'
} > "$data/RuleSets.xml"
baseline_rows=$(grep -c '<Rule Name=' "$data/Rules.xml")

"$reg" add 'HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents' /v 1 \
  /d 'SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /v Pathname \
  /d "$agent" /f >/dev/null
printf 'rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n' \
  > "$work/state/snmpsvc/snmpsvc.conf"
port=$(free_port)
target=127.0.0.1:$port

"$switchd" -f --data "$data" > "$work/switchd.log" 2>&1 &
switchd_pid=$!
pids+=("$switchd_pid")
for _ in $(seq 1 100); do [[ -S $work/run/switch.sock ]] && break; sleep 0.1; done
"$service" -f --listen "udp:$target" --config-dir "$work/state/snmpsvc" \
  > "$work/snmpsvc.log" 2>&1 &
snmpsvc_pid=$!
pids+=("$snmpsvc_pid")
# Serving once the agent answers with the whole rule table loaded.
for _ in $(seq 1 300); do
  [[ $(snmpget -v2c -c public -t 1 -r 0 -Oqv "$target" "$rule_entry.1.9.115.111.97.107.45.48.57.57.57" \
       2>/dev/null) == *soak-0999* ]] && break
  sleep 0.2
done

fail() { echo "$*" >> "$work/errors/$BASHPID"; }
deadline=$((${EPOCHREALTIME%.*} + duration))
# Without a process of their own, so that a busy machine slows the loops
# less: the clock, and a pause (a read from a pipe nobody writes to).
running() { ((${EPOCHREALTIME%.*} < deadline)); }
mkfifo "$work/never"
exec 9<> "$work/never"
pause() { read -rt "$1" -u 9 || true; }

# Walks the subtree; every column of the rule table must hold at least every
# row that exists for the whole run, and at most one more (the SET loop's).
walker() {
  local n=0 varbinds=0 out counts
  while running; do
    if ! out=$(snmpbulkwalk -v2c -c public -Cr25 -On -t 10 -r 0 "$target" "$root" 2>&1); then
      fail "walk: ${out##*$'\n'}"
      continue
    fi
    counts=$(awk -v p=".$rule_entry." 'index($1, p) == 1 {
        split(substr($1, length(p) + 1), s, "."); c[s[1]]++ }
      END { for (k in c) print k, c[k] }' <<< "$out")
    awk -v lo="$baseline_rows" -v hi=$((baseline_rows + 1)) \
      '$2 < lo || $2 > hi { bad = 1 } END { exit bad || NR == 0 }' <<< "$counts" ||
      fail "walk: rule table columns hold $(tr '\n' ' ' <<< "$counts")(column rows)"
    n=$((n + 1))
    varbinds=$((varbinds + $(wc -l <<< "$out")))
  done
  echo "$n $varbinds" > "$work/counts/walk.$BASHPID"
}

# Creates a row, changes it, destroys it, over and over.  The agent sees a
# stored change once switchd announces it, so each step waits until a GET
# shows the last one before it goes on; a change that never shows is a fault.
setter() {
  local n=0 gets=0 i=0 out name index description status
  shows() {  # expected text of the row's description
    local t
    for ((t = 0; t < 100; t++)); do
      gets=$((gets + 1))
      [[ $(snmpget -v2c -c public -t 10 -r 0 -Oqv "$target" "$description" 2>&1) == *"$1"* ]] &&
        return 0
      pause 0.1
    done
    return 1
  }
  while running; do
    name=row-$((i % 10))
    index=${#name}
    for ((k = 0; k < ${#name}; k++)); do index+=.$(printf '%d' "'${name:k:1}"); done
    description=$rule_entry.2.$index
    status=$rule_entry.23.$index
    for step in "Created $i:4:Created $i" "Changed $i:1:Changed $i" "Destroyed $i:6:No Such Instance"; do
      IFS=: read -r text row_status shown <<< "$step"
      if ! out=$(snmpset -v2c -c private -t 10 -r 0 "$target" \
                   "$description" s "$text" "$status" i "$row_status" 2>&1) ||
         [[ $out == *rror* ]]; then
        fail "set $text of $name: $out"
        break
      fi
      n=$((n + 1))
      shows "$shown" || { fail "set $text of $name: not shown after 10 s"; break; }
    done
    i=$((i + 1))
  done
  echo "$n $gets" > "$work/counts/set"
}

# Threshold events at 10 a second: each switchctl starts on time by the
# clock; every 20 the loop waits for those under way, so that a slow switchd
# slows the events rather than piling them up.
eventer() {
  local n=0 next=${EPOCHREALTIME/./} now
  while running; do
    (out=$("$switchctl" event cpu-high 97 critical-trap 2>&1) || fail "event: $out") &
    n=$((n + 1))
    ((n % 20 != 0)) || wait
    next=$((next + 100000))
    now=${EPOCHREALTIME/./}
    ((next <= now)) || pause "$(printf '0.%06d' $((next - now)))"
  done
  wait
  echo "$n" > "$work/counts/event"
}

# One line per sample: rss-kB fds, for snmpsvc then switchd.
sample() {  # pid
  echo "$(awk '/^VmRSS/ { print $2 }' "/proc/$1/status") $(ls "/proc/$1/fd" | wc -l)"
}
sampler() {
  local every
  every=$(calc "($duration / 60 < 1) ? 1 : $duration / 60")
  while running; do
    kill -0 "$snmpsvc_pid" 2>/dev/null || { fail "snmpsvc died"; break; }
    kill -0 "$switchd_pid" 2>/dev/null || { fail "switchd died"; break; }
    echo "$(sample "$snmpsvc_pid") $(sample "$switchd_pid")" >> "$work/samples"
    pause "$every"
  done
}

start=$EPOCHREALTIME
loops=()
for _ in 1 2 3 4; do walker & loops+=($!); done
setter & loops+=($!)
eventer & loops+=($!)
sampler & loops+=($!)
wait "${loops[@]}"
elapsed=$(calc "$EPOCHREALTIME - $start")

# A clean stop: snmpsvc first, as an operator stops them.
for pid in "$snmpsvc_pid" "$switchd_pid"; do
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid"
    status=0
    wait "$pid" || status=$?
    ((status == 0)) || fail "pid $pid stopped with status $status"
  fi
done
pids=()
for log in "$work/snmpsvc.log" "$work/switchd.log"; do
  if grep -qE 'Sanitizer|runtime error:' "$log"; then
    fail "sanitizer report in $(basename "$log"):"
    fail "$(cat "$log")"
  fi
done

# Growth: the mean of the last tenth of the samples over the first tenth.
growth() {  # column
  awk -v c="$1" '{ v[NR] = $c } END {
    t = int(NR / 10); if (t < 1) t = 1
    for (i = 1; i <= t; i++) { a += v[i]; b += v[NR - t + i] }
    printf "%d %d %.1f\n", a / t, b / t, (b - a) * 100 / a }' "$work/samples"
}
walks=0 varbinds=0
for f in "$work"/counts/walk.*; do
  read -r n v < "$f"
  walks=$((walks + n)) varbinds=$((varbinds + v))
done
read -r sets gets < "$work/counts/set"
events=$(cat "$work/counts/event")
# A GETBULK answers up to 25 varbinds; the walk's last one ends the walk.
requests=$((varbinds / 25 + walks + sets + gets))
printf 'soak of %.0f s, %d rules polling every 10 s, loopback\n' "$elapsed" "$((baseline_rows))"
printf '  walks:    %6d (%d varbinds, %.0f varbinds/s)\n' "$walks" "$varbinds" \
  "$(calc "$varbinds / $elapsed")"
printf '  SETs:     %6d (%.1f/s), and %d GETs awaiting their effect\n' "$sets" \
  "$(calc "$sets / $elapsed")" "$gets"
printf '  events:   %6d (%.1f/s)\n' "$events" "$(calc "$events / $elapsed")"
printf '  SNMP requests held: %.0f/s\n' "$(calc "$requests / $elapsed")"
over=0
for column in "1 snmpsvc RSS kB" "2 snmpsvc fds" "3 switchd RSS kB" "4 switchd fds"; do
  read -r first last percent < <(growth "${column%% *}")
  printf '  %-16s first tenth %8d, last tenth %8d: %+.1f %%\n' "${column#* }" "$first" "$last" \
    "$percent"
  if [[ $(calc "($percent > 50) ? 1 : 0") == 1 ]]; then
    fail "${column#* } grew by $percent %"
  fi
done

if compgen -G "$work/errors/*" > /dev/null; then
  echo "FAILED:"
  cat "$work"/errors/* | head -n 50
  exit 1
fi
echo "soak passed"
