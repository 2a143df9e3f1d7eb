#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# The compiler library's front end is not among them: scripts/build-front-end.sh
# builds it from source (the tests use the host's glslangValidator, glslc,
# spirv-val and spirv-dis only as tools). EGL, GL and Mesa's drivers serve
# vrxGlRun and the execution tests; the hiredis and curl headers build the
# cache's remote storage, whose tests start redis-server and nginx (with its
# DAV module) of their own.
set -euo pipefail

bash "$(dirname "$0")/install-packages.sh" cmake ninja-build g++ make \
    libgtest-dev libgmock-dev googletest glslang-tools glslc spirv-tools \
    libbenchmark-dev time libxxhash-dev python3 \
    libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri \
    libhiredis-dev libcurl4-openssl-dev redis-server nginx libnginx-mod-http-dav-ext
