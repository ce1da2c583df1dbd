#!/usr/bin/env bash
# Builds everything and runs every test. Wraps the run in a virtual X display when
# none is set, so the window tests work on a headless machine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${KGL_UNDER_XVFB:-}" ]; then
  export KGL_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

# Every tracked source as .clang-format lays it out: a difference fails the run.
echo "== source layout (clang-format)"
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
  echo "These sources differ from .clang-format; 'clang-format -i FILE' lays them out." >&2
  exit 1
fi

build=${KGL_BUILD_DIR:-$root/build}
echo "== normal build and tests"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
(cd "$build" && ctest --output-on-failure -j2)

# The model, display, texture and tool tests again under AddressSanitizer (with leak
# checking) and UndefinedBehaviorSanitizer; the window tests stay in the build above.
echo "== normal build and tests took $SECONDS s; sanitizer build and tests"
san=${KGL_SAN_BUILD_DIR:-$root/build-asan}
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/common/lsan.supp:print_suppressions=0
cmake -S . -B "$san" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKGL_SANITIZE=ON \
  -DKGL_BUILD_APP=OFF -DKGL_BUILD_BENCH=OFF
cmake --build "$san"
(cd "$san" && ctest --output-on-failure -j2)

# The loads, the finishing steps and the import run on several threads: their tests
# again under ThreadSanitizer, which fails the run on the first race it sees.
echo "== $SECONDS s so far; ThreadSanitizer build and the model and import tests"
tsan=${KGL_TSAN_BUILD_DIR:-$root/build-tsan}
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKGL_TSAN=ON \
  -DKGL_BUILD_APP=OFF -DKGL_BUILD_BENCH=OFF
cmake --build "$tsan" --target model_tests import_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$tsan/tests/model/model_tests" --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$tsan/tests/import/import_tests" --gtest_brief=1

# Every reader's fuzz target for a short, repeatable run over its seed corpus, two at a time.
echo "== $SECONDS s so far; fuzz targets"
KGL_FUZZ_REPEATABLE=1 KGL_FUZZ_JOBS=${KGL_FUZZ_JOBS:-2} bash scripts/fuzz.sh "${KGL_FUZZ_SECONDS:-20}"
echo "== all done in $SECONDS s"
