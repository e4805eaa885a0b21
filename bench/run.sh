#!/usr/bin/env bash
# Builds the benchmarks (Release, tests off) and runs them, printing every figure and its ratio to
# the floor measured in the same run.
#
#   bench/run.sh [--i686 | --both] [Google Benchmark flags...]
#
#   (none)   64-bit build in build/bench
#   --i686   32-bit build (-m32, SSE math) in build/bench-i686; needs Debian's
#            libbenchmark-dev:i386 (dpkg --add-architecture i386; apt-get install it)
#   --both   both builds, then every figure of the 32-bit one against the 64-bit one, from runs
#            of each benchmark in the two builds in turn (TF_BENCH_ROUNDS rounds, 3)
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

dir() {  # dir ARCH: the build folder
  if [[ $1 == i686 ]]; then echo "$root/build/bench-i686"; else echo "$root/build/bench"; fi
}

build() {  # build ARCH
  local toolchain=()
  if [[ $1 == i686 ]]; then
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/i686-linux-gnu.cmake")
    if [[ ! -e /usr/lib/i386-linux-gnu/cmake/benchmark/benchmarkConfig.cmake ]]; then
      echo "bench/run.sh: the 32-bit build needs libbenchmark-dev:i386 (dpkg --add-architecture" \
           "i386 && apt-get update && apt-get install libbenchmark-dev:i386)" >&2
      exit 1
    fi
  fi
  cmake -S "$root" -B "$(dir "$1")" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTF_WERROR=ON \
    -DTF_BUILD_BENCHMARKS=ON -DTF_BUILD_TESTS=OFF -DTF_BUILD_RENDERER=OFF "${toolchain[@]}" >/dev/null
  cmake --build "$(dir "$1")" -j2 --target tf_bench >/dev/null
}

run() {  # run ARCH [flags...]
  local arch=$1
  shift
  build "$arch"
  echo "== $arch: $(uname -n), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
  "$(dir "$arch")/bench/tf_bench" --benchmark_repetitions=5 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.05 "$@"
}

# The median time per call of one benchmark: median ARCH NAME [flags...]; a filter among the
# flags has already picked NAME.
median() {
  local arch=$1 name=$2 out flag flags=()
  shift 2
  for flag in "$@"; do [[ $flag == --benchmark_filter=* ]] || flags+=("$flag"); done
  out=$(mktemp)
  "$(dir "$arch")/bench/tf_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.05 "${flags[@]}" --benchmark_filter="^$name\$" \
    --benchmark_out="$out" --benchmark_out_format=csv >/dev/null 2>&1
  awk -F, -v want="\"${name}_median\"" '$1 == want { print $4 }' "$out"
  rm -f "$out"
}

case $mode in
  x86_64 | i686) run "$mode" "$@" ;;
  both)
    # Nanoseconds from two separate runs compare badly on a shared machine, whose speed drifts
    # by tens of percent over a minute. So each benchmark runs on its own in both builds, one
    # right after the other (the order alternating), for TF_BENCH_ROUNDS rounds (3); a figure
    # is the median of its rounds and 32/64 the median of the rounds' ratios.
    rounds=${TF_BENCH_ROUNDS:-3}
    build x86_64
    build i686
    echo "== $(uname -n), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
    mapfile -t names < <("$(dir x86_64)/bench/tf_bench" --benchmark_list_tests "$@")
    printf '%-44s %12s %12s %8s\n' figure "64-bit ns/call" "32-bit ns/call" "32/64"
    for name in "${names[@]}"; do
      line=$name
      for ((round = 1; round <= rounds; round++)); do
        if ((round % 2)); then
          a=$(median x86_64 "$name" "$@")
          b=$(median i686 "$name" "$@")
        else
          b=$(median i686 "$name" "$@")
          a=$(median x86_64 "$name" "$@")
        fi
        line+=" $a $b"
      done
      echo "$line"
    done | awk '
      function median(list,   n, v, i, j, t) {
        n = split(list, v, " ")
        for (i = 2; i <= n; i++)
          for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
      }
      {
        as = bs = rs = ""
        for (i = 2; i < NF; i += 2) { as = as " " $i; bs = bs " " $(i + 1); rs = rs " " $(i + 1) / $i }
        r = median(rs)
        printf "%-44s %12.1f %12.1f %8.3f\n", $1, median(as), median(bs), r
        if ($1 ~ /^(floor|memcpy)\//) next
        kind = $1 ~ /^(replacing|process|inplace)\// ? "audio" : "parameters"
        if (r > worst[kind]) { worst[kind] = r; which[kind] = $1 }
      }
      END {
        print "\nGoal: 32-bit within 1.5x of 64-bit; the worst of each kind"
        for (kind in worst) printf "  %-10s %.3f  %s\n", kind, worst[kind], which[kind]
      }'
    ;;
esac
