#!/usr/bin/env bash
# Sets up and runs the main job.  For now the system's services do not exist
# yet, so this installs what is needed and builds everything; it will start the
# agent serving SNMP on 127.0.0.1:1161 as soon as the SNMP service is built.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLORVETH_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"
echo "Built. The SNMP service that runs the agent is not part of the build yet."
