#!/usr/bin/env bash
# Keeps the includes one way: a folder may include its own level and the levels
# below it, never one above.  Levels, lowest first:
#   0 platform (the Windows types and the SNMP extension ABI)
#   1 platform/system   2 platform/registry, platform/eventlog   3 platform/com
#   4 markup, trace     5 mibtree, switch, host     6 frame     7 threshold
#   8 services, tools
# The services and tools reuse the configuration documents (threshold/documents)
# but never the agent's frame or the rest of threshold/.
# Tests, benchmarks and fuzz targets may include anything.  Exit 1 on a breach.
set -euo pipefail
cd "$(dirname "$0")/.."

level_of() {
  case $1 in
    platform/system/*) echo 1 ;;
    platform/registry/* | platform/eventlog/*) echo 2 ;;
    platform/com/*) echo 3 ;;
    platform/*) echo 0 ;;
    markup/* | trace/*) echo 4 ;;
    mibtree/* | switch/* | host/*) echo 5 ;;
    frame/*) echo 6 ;;
    threshold/documents/*) echo 7 ;;
    threshold/*) echo 7 ;;
    services/* | tools/*) echo 8 ;;
    *) echo "" ;;
  esac
}

breaches=0
while IFS= read -r file; do
  own=$(level_of "$file")
  [[ -n $own ]] || continue
  while IFS=: read -r line target; do
    target=${target#*\"}
    target=${target%\"*}
    theirs=$(level_of "$target")
    [[ -n $theirs ]] || continue
    bad=
    ((theirs > own)) && bad="a higher level"
    if [[ $file == services/* || $file == tools/* ]]; then
      [[ $target == frame/* ]] && bad="the agent's frame"
      [[ $target == threshold/* && $target != threshold/documents/* ]] && bad="the agent's threshold internals"
    fi
    if [[ -n $bad ]]; then
      echo "$file:$line includes $target ($bad)"
      breaches=$((breaches + 1))
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(git ls-files '*.h' '*.cpp' '*.inl' '*.c' | grep -vE '^(tests|bench|fuzz)/')

if ((breaches)); then
  echo "FAILED: $breaches include(s) against the layering"
  exit 1
fi
echo "layering: every include goes one way"
