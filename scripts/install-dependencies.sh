#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# EGL, GL and Mesa's drivers serve vrxGlRun and the execution tests.
set -euo pipefail

bash "$(dirname "$0")/install-packages.sh" cmake ninja-build g++ make \
    libgtest-dev libgmock-dev googletest glslang-dev glslang-tools glslc spirv-tools \
    libbenchmark-dev time libxxhash-dev python3 \
    libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
