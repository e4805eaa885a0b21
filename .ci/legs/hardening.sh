#!/usr/bin/env bash
# Hardening leg: the whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer (the
# asan-ubsan preset), once more under valgrind memcheck, and the host-call fuzzer for a bounded
# time from its seed corpus and every past finding.
#
#   .ci/legs/hardening.sh [asan] [memcheck] [fuzz]     (no argument: all three)
#
# TF_FUZZ_SECONDS (default 60) bounds the fuzzing; TF_JOBS (default 2) the parallel jobs.
# A fuzzer finding fails the leg; its input is printed in base64 so it can be taken from the log,
# saved under fuzz/regressions/host_calls/ and replayed by the tests from then on.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
jobs="${TF_JOBS:-2}"
fuzz_seconds="${TF_FUZZ_SECONDS:-60}"
steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(asan memcheck fuzz)

install_missing() {
  local want=(g++ cmake ninja-build libgtest-dev libgmock-dev clang libclang-rt-14-dev valgrind)
  local missing=()
  for pkg in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

timed() {  # timed NAME COMMAND...
  local name="$1"; shift
  local t0=$SECONDS
  echo "--- hardening: $name"
  "$@"
  echo "--- hardening: $name passed in $((SECONDS - t0)) s"
}

# The check of the module's exports and dependencies is left out: it is about the module that
# ships, and a sanitized module needs the sanitizer runtimes and the shared C++ runtime on purpose.
asan() {
  cmake --preset asan-ubsan >/dev/null
  cmake --build --preset asan-ubsan -j "$jobs"
  ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:check_initialization_order=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --preset asan-ubsan -j "$jobs" -E '^platform[.]ModuleBinary[.]'
}

# Each test program runs once under valgrind with all its tests (ctest -T memcheck would start
# valgrind once per test case). The allocation-counting test replaces the allocator, as valgrind
# does: it is left out.
memcheck() {
  local build="$root/build-memcheck"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTF_WERROR=ON >/dev/null
  cmake --build "$build" -j "$jobs"
  local logs="$build/memcheck"
  rm -rf "$logs"
  mkdir -p "$logs"
  local programs
  programs="$(cmake -DBUILD_DIR="$build" -DEXCLUDE_LABEL=allocator \
    -P "$root/.ci/legs/memcheck_programs.cmake" 2>&1)"
  [ -n "$programs" ] || { echo "no test program found in $build"; return 1; }

  local n=0 pids=() names=()
  while IFS=$'\t' read -r dir cmdline; do
    n=$((n + 1))
    local log="$logs/$n-$(basename "${cmdline%% *}").log"
    # shellcheck disable=SC2086 # the command line is split into its words on purpose
    (cd "$dir" && exec valgrind --error-exitcode=1 --leak-check=full \
      --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
      --num-callers=40 --suppressions="$root/tests/hardening/valgrind.supp" \
      $cmdline) >"$log" 2>&1 &
    pids+=($!)
    names+=("$log")
    if [ ${#pids[@]} -ge "$jobs" ]; then
      memcheck_wait "${pids[0]}" "${names[0]}"
      pids=("${pids[@]:1}")
      names=("${names[@]:1}")
    fi
  done <<<"$programs"
  local i
  for i in "${!pids[@]}"; do memcheck_wait "${pids[$i]}" "${names[$i]}"; done
  [ ! -e "$logs/failed" ]
}

memcheck_wait() {  # memcheck_wait PID LOG
  if wait "$1"; then
    echo "memcheck clean: $(basename "$2" .log) ($(grep -Eo '[0-9]+ tests? from [0-9]+ test suites? ran' "$2" | tail -n 1))"
  else
    echo "memcheck FAILED: $(basename "$2" .log); its log:"
    cat "$2"
    touch "$(dirname "$2")/failed"
  fi
}

fuzz() {
  local build="$root/build-fuzz"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTF_BUILD_FUZZERS=ON -DTF_BUILD_TESTS=OFF \
    -DTF_BUILD_RENDERER=OFF -DTF_WERROR=ON >/dev/null
  cmake --build "$build" -j "$jobs" --target tf_host_calls_fuzzer
  # The kept inputs first: seeds and past findings.
  ctest --test-dir "$build" --output-on-failure

  local work
  work="$(mktemp -d)"
  mkdir -p "$work/corpus" "$work/findings"
  cp "$root"/fuzz/corpus/host_calls/* "$work/corpus/"
  local dirs=("$work/corpus")
  if compgen -G "$root/fuzz/regressions/host_calls/*" >/dev/null; then
    dirs+=("$root/fuzz/regressions/host_calls")
  fi
  if ! "$build/fuzz/tf_host_calls_fuzzer" -max_total_time="$fuzz_seconds" -timeout=20 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/findings/" "${dirs[@]}" \
      >"$work/log" 2>&1; then
    tail -n 60 "$work/log"
    local finding
    for finding in "$work"/findings/*; do
      [ -e "$finding" ] || continue
      echo "finding $(basename "$finding"), base64 (save it under fuzz/regressions/host_calls/):"
      base64 -w 0 "$finding"
      echo
    done
    return 1
  fi
  grep -E "^(Done|stat::number_of_executed_units|stat::new_units_added)" "$work/log" || true
  rm -rf "$work"
}

install_missing
for step in "${steps[@]}"; do
  case "$step" in
    asan) timed "asan-ubsan preset" asan ;;
    memcheck) timed "valgrind memcheck" memcheck ;;
    fuzz) timed "host-call fuzzer (${fuzz_seconds} s)" fuzz ;;
    *) echo "unknown step: $step"; exit 2 ;;
  esac
done
