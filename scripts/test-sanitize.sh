#!/usr/bin/env bash
# Builds everything with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer (CMake preset "sanitize", in build-sanitize/) and
# runs every test. Any report of a sanitizer, a leak included, fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-dependencies.sh
# The sanitizer run-time libraries of the compiler the preset uses.
bash scripts/install-packages.sh libasan8 libubsan1

# Reports end the process that made them with a failing exit code; a leak is
# reported when the process ends.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="exitcode=23"

start=$(date +%s)
cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize
echo "Sanitizer suite passed in $(( $(date +%s) - start )) s"
