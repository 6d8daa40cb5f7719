#!/usr/bin/env bash
# Installs the Debian 12 packages Veltra builds and tests with; installs only what is missing.
# Runs as root, or through sudo when started by another user.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    libopenscenegraph-dev openscenegraph      # scene graph, its osgDB plug-ins and tools
    libjsoncpp-dev libcurl4-openssl-dev
    libboost-dev libboost-thread-dev libutfcpp-dev
    libgdal-dev
    libx11-dev libgl1-mesa-dev libgl1-mesa-dri  # X11 windows and Mesa's software OpenGL
    libxcomposite-dev libxdamage-dev libxext-dev  # the host's window pictures: redirection, damage, shared memory
    xvfb xauth                                # virtual X server for rendering tests
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-microhei                        # a CJK font for Chinese labels
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
