# Shared by the scripted whole-process benchmarks (source it): a work folder
# that goes away with the script and the processes it started, free loopback
# ports, arithmetic, and Net-SNMP's tools kept off the machine's own files.
#
#   . bench/loopback.sh      # sets $work and an empty pids array
#   pids+=($!)               # after starting a process in the background

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {  # a random unprivileged UDP port that nothing listens on
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    [[ -z $(ss -Hlun "sport = :$port") ]] && { echo "$port"; return; }
  done
}
calc() { awk "BEGIN { print $1 }"; }
export MIBS= MIBDIRS= SNMP_PERSISTENT_DIR=$work/tools SNMPCONFPATH=$work/tools
mkdir -p "$work/tools"
