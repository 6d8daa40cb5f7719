#!/usr/bin/env bash
# Installs the Debian 12 packages Veltra builds and runs with; installs only what is missing.
# With --tests it also installs what the end-to-end tests drive: Debian's Chromium, Node.js when
# there is none, and playwright-core from npm (into tests/e2e/node_modules, pinned by its lock file).
# Runs as root, or through sudo when started by another user.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
with_tests=false
[ "${1:-}" = "--tests" ] && with_tests=true

packages=(
    build-essential cmake pkg-config git
    ccache                                    # compiler cache: rebuilds, also from other clones, come from ~/.cache/ccache
    libopenscenegraph-dev openscenegraph      # scene graph, its osgDB plug-ins and tools
    libjsoncpp-dev libcurl4-openssl-dev
    libboost-dev libboost-thread-dev libutfcpp-dev
    libgdal-dev
    libifcplusplus-dev libtinygltf-dev        # IFC and glTF building models
    libx11-dev libgl1-mesa-dev libgl1-mesa-dri  # X11 windows and Mesa's software OpenGL
    libxcomposite-dev libxdamage-dev libxext-dev  # the host's window pictures: redirection, damage, shared memory
    xvfb xauth                                # virtual X server: the host's display when there is none, and the rendering tests'
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-microhei                        # a CJK font for Chinese labels
    xplanet-images                            # NASA's photograph of the Earth for the demo globe
)
if $with_tests; then
    packages+=(chromium)
    # A Node.js of the machine's own (outside dpkg) is kept; Debian's comes only when there is none.
    command -v node > /dev/null || packages+=(nodejs)
    command -v npm > /dev/null || packages+=(npm)
fi

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages present"
else
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if $with_tests; then
    e2e="$root/tests/e2e"
    if [ ! -d "$e2e/node_modules/playwright-core" ] || [ "$e2e/package-lock.json" -nt "$e2e/node_modules/.package-lock.json" ]; then
        echo "install-deps: installing playwright-core for the end-to-end tests"
        (cd "$e2e" && npm ci --no-audit --no-fund --loglevel=error)
    fi
fi
