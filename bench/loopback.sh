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

# A random UDP port that nothing listens on, below the kernel's ephemeral
# range, from which client sockets (of this run or another) take theirs.
free_port() {
  local port
  while :; do
    port=$((10000 + RANDOM % 22000))
    [[ -z $(ss -Hlun "sport = :$port") ]] && { echo "$port"; return; }
  done
}
calc() { awk "BEGIN { print $1 }"; }
# Everything a run starts keeps its files below $work: Net-SNMP's persistent
# files and configuration, HOME, and the services' state and runtime
# directories; no MIB module is loaded.
export MIBS= MIBDIRS= SNMP_PERSISTENT_DIR=$work/tools/persist SNMPCONFPATH=$work/tools \
  HOME=$work/home LORVETH_STATE_DIR=$work/state LORVETH_RUNTIME_DIR=$work/run
mkdir -p "$work/tools/persist/cert_indexes" "$work/home" "$work/state" "$work/run"
