#!/usr/bin/env bash
# Installs every Debian package that building, testing and running need.
# Runs as root on Debian 12; does nothing when all of them are present.  When
# another installation holds the package manager's lock (a second test run,
# unattended upgrades), it waits for it instead of failing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config ccache
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  libsnmp-dev snmp snmpd snmptrapd
  libpugixml-dev libxml2-dev smitools
  procps iproute2
  gnuplot-nox librsvg2-bin
  scdoc lintian systemd man-db dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  wait_for_lock=(-o DPkg::Lock::Timeout=1800)
  apt-get "${wait_for_lock[@]}" update -qq
  apt-get "${wait_for_lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
