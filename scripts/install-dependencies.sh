#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# EGL, GL and Mesa's drivers serve vrxGlRun and the execution tests; the
# hiredis and curl headers build the cache's remote storage, whose tests
# start redis-server and nginx (with its DAV module) of their own.
set -euo pipefail

bash "$(dirname "$0")/install-packages.sh" cmake ninja-build g++ make \
    libgtest-dev libgmock-dev googletest glslang-dev glslang-tools glslc spirv-tools \
    libbenchmark-dev time libxxhash-dev \
    libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri \
    libhiredis-dev libcurl4-openssl-dev redis-server nginx libnginx-mod-http-dav-ext
