# shellcheck shell=bash disable=SC2034,SC2154
# Shared by the capture scripts (source it after setting $build): starts
# switchd and snmpsvc with the demo tables and the threshold agent in a work
# folder of their own and waits until the agent answers.  The arrays
# switchd_wrapper and service_wrapper, when set, are put in front of each
# service's command line (a tracer, say); $switchd_pid and $service_pid are
# the services themselves, wrapped or not.
#
# Sets: $work, $target (address:port), $root (the agent's OID), $rule_entry,
# $snmp (the Net-SNMP tools' common options), and index NAME (a rule's index).
build=$(cd "$build" && pwd)
service=$build/services/snmpsvc/snmpsvc
switchd=$build/services/switchd/switchd
reg=$build/tools/reg/lorveth-reg
root=$(cat "$build/mibs/root-oid")
rule_entry=$root.1.3.1.1

. bench/loopback.sh
data=$work/state/switchd
mkdir -p "$data" "$work/state/snmpsvc"
cp demo/switchd/*.xml "$data/"
"$reg" add 'HKLM\SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /v Pathname \
  /d "$build/threshold/Lorveth_Agent.so" /f >/dev/null
"$reg" add 'HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents' /v 1 \
  /d 'SOFTWARE\Quorvath\Lorveth_Agent\CurrentVersion' /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Debug\Lorveth_Agent' /v FileDebugLevel /t REG_DWORD /d 2 /f >/dev/null
"$reg" add 'HKLM\SOFTWARE\Debug\Lorveth_Agent' /v TraceFile /d "$work/trace.txt" /f >/dev/null
printf 'rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n' \
  > "$work/state/snmpsvc/snmpsvc.conf"
target=127.0.0.1:$(free_port)
snmp=(-t 5 -r 0)

# The service a wrapper started is the wrapper's only child.
started_pid() {
  local wrapper=$1 wrapped=$2 child=
  if ((wrapped)); then
    for _ in $(seq 1 100); do
      child=$(pgrep -P "$wrapper" | head -n 1) && [[ -n $child ]] && break
      sleep 0.05
    done
  fi
  echo "${child:-$wrapper}"
}

"${switchd_wrapper[@]}" "$switchd" -f --data "$data" > "$work/switchd.log" 2>&1 &
pids+=($!)
switchd_pid=$(started_pid $! ${#switchd_wrapper[@]})
pids=("$switchd_pid" "${pids[@]}")
for _ in $(seq 1 100); do [[ -S $work/run/switch.sock ]] && break; sleep 0.1; done
"${service_wrapper[@]}" "$service" -f --listen "udp:$target" --config-dir "$work/state/snmpsvc" \
  > "$work/snmpsvc.log" 2>&1 &
pids+=($!)
service_pid=$(started_pid $! ${#service_wrapper[@]})
pids=("$service_pid" "${pids[@]}")
for _ in $(seq 1 100); do
  snmpget -v2c -c public "${snmp[@]}" "$target" "$root.1.1.1.0" >/dev/null 2>&1 && break
  sleep 0.2
done

index() { local name=$1 out=${#1}; for ((k = 0; k < ${#name}; k++)); do out+=.$(printf '%d' "'${name:k:1}"); done; echo "$out"; }
