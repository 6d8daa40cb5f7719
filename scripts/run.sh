#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what is missing, builds the host, then starts
# veltra-host with the generated demo site and prints the address to open in a browser (Chromium or
# Firefox). The page embeds the viewer through <object type="application/x-veltra">; the host draws
# it on the current X display, or on a private Xvfb when there is none. Ctrl+C stops the host.
# Arguments go to the host (see `build/bin/veltra-host --help`).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
# Only what the host starts: the host program brings the plug-in and the demo site. The tests and
# benchmarks (scripts/test.sh) build in the same folder, on what this leaves there.
cmake --build "$root/build" -j "$(nproc)" --target veltra-host

exec "$root/build/bin/veltra-host" "$@"
