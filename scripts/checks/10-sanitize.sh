#!/usr/bin/env bash
# Builds the whole project once more with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan (tests on, benchmark off) and runs
# the whole test suite there. Any sanitizer report ends the process that made
# it with a failure, so the test that ran it fails.
#   JOBS  parallel build jobs (default: number of processors)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build-asan"
jobs=${JOBS:-$(nproc)}

# GCC's -Wmaybe-uninitialized gives false alarms inside <regex> and <functional>
# once AddressSanitizer instruments them; the ordinary build keeps the warning.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVALE_SANITIZE=ON \
  -DQUORVALE_TESTS=ON -DQUORVALE_BENCH=OFF -DQUORVALE_FUZZ=OFF \
  -DCMAKE_CXX_FLAGS="-Wno-maybe-uninitialized" >/dev/null
cmake --build "$build" -j"$jobs"

export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure --timeout 900 </dev/null
