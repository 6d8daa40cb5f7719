#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what is missing, builds Veltra, then opens the
# desktop viewer on a generated building with its construction schedule playing. Arguments go to the
# viewer (see `build/bin/veltra-view --help`). Without a display the viewer draws on a private X
# server and saves its last frame to build/veltra-view.png instead.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$root/build" -j "$(nproc)"

viewer="$root/build/bin/veltra-view"
if [ -n "${DISPLAY:-}" ]; then
    exec "$viewer" --play "$@"
fi
echo "No display: drawing 120 frames off screen."
xvfb-run -a -s "-screen 0 1280x1024x24 +extension GLX" \
    "$viewer" --play --frames 120 --screenshot "$root/build/veltra-view.png" "$@"
echo "Saved the last frame to $root/build/veltra-view.png"
