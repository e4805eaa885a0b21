#!/usr/bin/env bash
# Builds the benchmarks (Release, tests off) and runs them, printing every figure and its ratio to
# the floor measured in the same run.
#
#   bench/run.sh [--i686 | --both] [Google Benchmark flags...]
#
#   (none)   64-bit build in build/bench
#   --i686   32-bit build (-m32, SSE math) in build/bench-i686; needs Debian's
#            libbenchmark-dev:i386 (dpkg --add-architecture i386; apt-get install it)
#   --both   both, then the 32-bit figures against the 64-bit ones
#
# Medians of 5 repetitions, run in random order so that a busy machine weighs on all figures
# alike. Extra flags go to the benchmark, e.g. --benchmark_filter=replacing.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mode=x86_64
case "${1:-}" in
  --i686) mode=i686; shift ;;
  --both) mode=both; shift ;;
esac

run() {  # run ARCH [flags...]
  local arch=$1 build toolchain=()
  shift
  if [[ $arch == i686 ]]; then
    build=$root/build/bench-i686
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/i686-linux-gnu.cmake")
    if [[ ! -e /usr/lib/i386-linux-gnu/cmake/benchmark/benchmarkConfig.cmake ]]; then
      echo "bench/run.sh: the 32-bit build needs libbenchmark-dev:i386 (dpkg --add-architecture" \
           "i386 && apt-get update && apt-get install libbenchmark-dev:i386)" >&2
      exit 1
    fi
  else
    build=$root/build/bench
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTF_WERROR=ON \
    -DTF_BUILD_BENCHMARKS=ON -DTF_BUILD_TESTS=OFF -DTF_BUILD_RENDERER=OFF "${toolchain[@]}" >/dev/null
  cmake --build "$build" -j2 --target tf_bench >/dev/null
  echo "== $arch: $(uname -n), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
  "$build/bench/tf_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.05 \
    --summary="$build/summary.tsv" "$@"
}

case $mode in
  x86_64 | i686) run "$mode" "$@" ;;
  both)
    run x86_64 "$@"
    run i686 "$@"
    echo
    # 32/64 compares nanoseconds from two runs, which a busy machine may slow differently; the
    # last column compares the figures against each run's own floor (the same scalar loop, which
    # runs at the same speed in both builds on an idle machine), which cancels that out.
    printf '%-44s %12s %12s %8s %12s\n' figure "64-bit ns" "32-bit ns" "32/64" "32/64 floor"
    join -t $'\t' <(sort "$root/build/bench/summary.tsv") <(sort "$root/build/bench-i686/summary.tsv") |
      awk -F'\t' '{ printf "%-44s %12.3f %12.3f %8.3f %12.3f\n", $1, $2, $5, $5 / $2, $7 / $4 }
        $1 ~ /^(replacing|process|inplace)\/.*\/256$/ && $5 / $2 > worst { worst = $5 / $2; which = $1 }
        $1 ~ /^(replacing|process|inplace)\/.*\/256$/ && $7 / $4 > worstFloor { worstFloor = $7 / $4; whichFloor = $1 }
        END {
          printf "\nGoal\n  audio loop at 256 frames, 32-bit / 64-bit, worst: %.3f, %s (<= 1.5)\n", worst, which
          printf "  the same against each run'"'"'s floor, worst:          %.3f, %s (<= 1.5)\n", worstFloor, whichFloor
        }'
    ;;
esac
