#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what is missing, then builds Veltra.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$root/build" -j "$(nproc)"
echo "Veltra built: libraries in $root/build/lib"
