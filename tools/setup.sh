#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12 (only the
# packages that are missing), then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/lib.sh
install_missing build-essential cmake pkg-config libgtest-dev libbenchmark-dev \
  libx11-dev libxtst-dev libgl-dev libgl1-mesa-dev libgl1-mesa-dri libglu1-mesa-dev libegl-dev libegl-mesa0 \
  libfreetype-dev fonts-dejavu-core xvfb xauth xdotool python3-matplotlib python3-numpy python3-scipy slurm-wlm munge

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
