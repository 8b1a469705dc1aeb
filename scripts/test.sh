#!/usr/bin/env bash
# The whole test run: installs what is needed, builds from scratch, runs every
# test and a minute of load (bench/soak), then builds again with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs every test but the
# end-to-end ones there (save the two that send malformed requests), then
# with ThreadSanitizer and runs the tests of the threaded parts, and finally
# builds everything with clang (warnings as errors, tests included) and runs each
# fuzz target briefly over its corpus.
#
# Compiled objects are reused: every build goes through ccache, so a second
# run on the same machine (from this clone or another one) recompiles little.
# The tests and fuzzers run in a world of their own (see `isolated` below), so
# that a test which reaches for this machine's state fails on every machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

bash scripts/install-deps.sh

echo "=== layering: includes go one way"
bash scripts/check-layers.sh

# ccache keeps its objects in its usual place (CCACHE_DIR, by default
# ~/.cache/ccache).  Paths below the checkout enter its hashes relative to the
# checkout, and the debug information names them relative to it too, so that
# clones in other folders share the objects.
export CCACHE_BASEDIR=$root
build_flags=(-G Ninja -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  "-DCMAKE_C_FLAGS=-fdebug-prefix-map=$root=." "-DCMAKE_CXX_FLAGS=-fdebug-prefix-map=$root=.")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lorveth-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Runs a command with none of the caller's environment but PATH and the
# "NAME=value" words before it, in a fresh world below $scratch:
# - HOME and TMPDIR are empty directories of the run;
# - Net-SNMP's persistent and MIB directories are empty directories, and its
#   configuration path holds a file that makes every Net-SNMP program which
#   reads it complain: a test gives each program it starts its own;
# - the services' state and runtime directories lie below a plain file, where
#   nothing can be made: a test points them at its own temporary directory;
# - debugger strings go to a syslog socket of the run that nobody reads;
# - the time zone is an unusual one with summer time.
# Afterwards HOME and the persistent directory must still be empty.
isolated() {
  local world
  world=$(mktemp -d "$scratch/world.XXXXXX")
  mkdir -p "$world/home" "$world/tmp" "$world/net-snmp/persist" "$world/net-snmp/conf" \
    "$world/net-snmp/mibs"
  touch "$world/not-a-directory"
  echo "testsStartNetSnmpProgramsWithTheirOwnConfiguration yes" > "$world/net-snmp/conf/snmp.conf"
  local settings=()
  while [[ $# -gt 0 && $1 == *=* ]]; do settings+=("$1"); shift; done
  local status=0
  env -i PATH="$PATH" HOME="$world/home" TMPDIR="$world/tmp" \
    SNMP_PERSISTENT_DIR="$world/net-snmp/persist" SNMPCONFPATH="$world/net-snmp/conf" \
    MIBDIRS="$world/net-snmp/mibs" \
    LORVETH_STATE_DIR="$world/not-a-directory/state" \
    LORVETH_RUNTIME_DIR="$world/not-a-directory/run" \
    LORVETH_SYSLOG_SOCKET="$world/syslog.socket" \
    TZ="LRT+9:30LRS,M3.5.0,M10.5.0/3" \
    "${settings[@]}" "$@" || status=$?
  local leftovers
  leftovers=$(find "$world/home" "$world/net-snmp/persist" -mindepth 1)
  if [[ -n $leftovers ]]; then
    echo "FAILED: tests wrote outside their own directories:" >&2
    echo "$leftovers" >&2
    return 1
  fi
  rm -rf "$world"
  return "$status"
}

echo "=== g++: build and all tests"
rm -rf build
cmake -S . -B build "${build_flags[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLORVETH_BUILD_TESTS=ON -DLORVETH_BUILD_BENCHMARKS=ON
cmake --build build -j "$jobs"
isolated ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300
echo "=== soak: the whole system under load for 60 s"
isolated bash bench/soak/soak.sh 60 build

echo "=== g++ with AddressSanitizer and UndefinedBehaviorSanitizer: all but the end-to-end tests"
rm -rf build-asan
cmake -S . -B build-asan "${build_flags[@]}" -DCMAKE_BUILD_TYPE=Debug \
  -DLORVETH_SANITIZE=address,undefined -DLORVETH_BUILD_TESTS=ON
cmake --build build-asan -j "$jobs"
isolated ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -LE e2e --output-on-failure -j "$jobs" --timeout 300
# The end-to-end test that feeds the services malformed and odd requests runs
# here too: the services are sanitized, and the test fails on a sanitizer
# report in their logs.
bad_input_tests='SystemTest\.ReadsAnswerWhatTheTableFilesHoldAndOddRequestsBreakNothing$'
isolated ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -R "$bad_input_tests" --no-tests=error --output-on-failure \
  --timeout 300

echo "=== g++ with ThreadSanitizer: the tests of the threaded parts"
# Threads, events and the named mutex; the registry; the remoting with its
# reader threads; the trace; the switch client; switchd's engine and store.
tsan_tests=(platform/platform_tests platform/registry_tests platform/com_remoting_tests
  trace/trace_tests switch/switch_tests services/switchd/switchd_tests)
rm -rf build-tsan
cmake -S . -B build-tsan "${build_flags[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLORVETH_SANITIZE=thread -DLORVETH_BUILD_TESTS=ON
cmake --build build-tsan -j "$jobs" --target "${tsan_tests[@]##*/}"
for test in "${tsan_tests[@]}"; do
  echo "--- $test"
  isolated TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "build-tsan/tests/$test" \
    --gtest_brief=1
done

echo "=== clang: build everything warning-free, run each fuzz target over its corpus"
rm -rf build-clang
CC=clang CXX=clang++ cmake -S . -B build-clang "${build_flags[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLORVETH_BUILD_TESTS=ON -DLORVETH_BUILD_FUZZERS=ON
cmake --build build-clang -j "$jobs"
if [[ -d build-clang/fuzz ]]; then
  for fuzzer in build-clang/fuzz/fuzz_*; do
    [[ -x $fuzzer ]] || continue
    name=$(basename "$fuzzer")
    corpus="$root/fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d "$scratch/$name.XXXXXX")
    echo "--- $name"
    # New inputs go to the scratch corpus, a crash report next to it; a crash
    # fails the run and shows its whole report.
    # A fixed seed and run count make the run repeatable: what passes here
    # passes in CI.
    if ! isolated "$fuzzer" -seed=1 -runs="${LORVETH_FUZZ_RUNS:-200000}" -max_total_time=60 \
         -rss_limit_mb=2048 -artifact_prefix="$work/" "$work" \
         $( [[ -d $corpus ]] && echo "$corpus" ) > "$work.log" 2>&1; then
      cat "$work.log"
      kept=$(mktemp -d "${TMPDIR:-/tmp}/$name-failed.XXXXXX")
      cp -r "$work" "$work.log" "$kept/"
      echo "FAILED: $name (inputs kept in $kept)"
      exit 1
    fi
    tail -n 1 "$work.log"
    rm -rf "$work" "$work.log"
  done
fi
echo "=== all checks passed"
