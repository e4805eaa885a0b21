#!/usr/bin/env bash
# Platform leg: the module and its tests built for 32-bit Linux (-m32), Windows i686 and Windows
# x86_64 (mingw-w64), each tested under ctest; the Windows tests run under wine. The native x86_64
# leg is separate.
#
#   .ci/legs/platforms.sh [PRESET...]   (default: linux-i686 mingw-i686 mingw-x86_64)
#
# Installs what is missing first (about 450 MB to download, 3.6 GB of disk), after checking there
# is room. Safe to run again: installed packages are skipped and the build trees are reused. One
# wine prefix is made per run, in a temporary folder, and shared by both Windows targets.
# TF_JOBS (default 2) sets the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
jobs="${TF_JOBS:-2}"
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(linux-i686 mingw-i686 mingw-x86_64)
started=$SECONDS

say() { echo "--- platforms: $*"; }

# Free space in MB on the file system holding $1.
free_mb() { df -Pm "$1" | awk 'NR == 2 { print $4 }'; }

need_space() {  # need_space PATH MB WHAT
  local free
  free="$(free_mb "$1")"
  if [ "$free" -lt "$2" ]; then
    echo "platforms: not enough disk space for $3: $free MB free on the file system of $1," \
      "about $2 MB needed. Free some space and run again." >&2
    exit 1
  fi
}

install_missing() {
  local want=(cmake ninja-build binutils googletest g++-multilib g++-mingw-w64-i686-posix
    g++-mingw-w64-x86-64-posix wine wine64 wine32:i386)
  local missing=() pkg
  for pkg in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  # The cross compilers and wine: about 450 MB downloaded into apt's cache, 3.6 GB once unpacked.
  need_space /var/cache/apt/archives 600 "the downloaded packages"
  need_space /usr 4000 "the cross compilers and wine (${missing[*]})"
  say "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

wants_wine() {
  local preset
  for preset in "${presets[@]}"; do
    case $preset in mingw-*) return 0 ;; esac
  done
  return 1
}

install_missing
need_space "$root" 500 "the build trees"
wants_wine && need_space "${TMPDIR:-/tmp}" 500 "a wine prefix"

prefix_job=""
if wants_wine; then
  # One prefix for this run, shared by both Windows targets. Making it takes 3 to 16 s, so it is
  # made in the background while the first target builds. mscoree and mshtml are left out: no
  # test needs .NET or an HTML engine, and wine would look for their installers.
  WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/tf-wine.XXXXXX")"
  export WINEPREFIX
  export WINEDEBUG=-all,err+module  # keeps missing-DLL errors visible
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  server_marker="$WINEPREFIX.server"
  cleanup() {
    if [ -n "$prefix_job" ]; then wait "$prefix_job" 2>/dev/null || true; fi
    sh "$root/cmake/toolchains/wine-server.sh" stop "$server_marker"
    # A server started by ctest's own hook may still be shutting down.
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$server_marker"
  }
  trap cleanup EXIT
  sh "$root/cmake/toolchains/wine-server.sh" start "$server_marker" &
  prefix_job=$!
fi

# Every target is built and tested even when an earlier one fails, so that one run shows them all.
failed=()
for preset in "${presets[@]}"; do
  t0=$SECONDS
  say "$preset: configure and build"
  if ! { cmake --preset "$preset" -DTF_BUILD_TESTS=ON >/dev/null &&
    cmake --build --preset "$preset" -j "$jobs"; }; then
    say "$preset: FAILED to build after $((SECONDS - t0)) s"
    failed+=("$preset (build)")
    continue
  fi
  t1=$SECONDS
  if [ -n "$prefix_job" ] && [[ $preset == mingw-* ]]; then
    if ! wait "$prefix_job"; then
      echo "platforms: the wine prefix $WINEPREFIX could not be made" >&2
      exit 1
    fi
    prefix_job=""
  fi
  say "$preset: test"
  if ctest --preset "$preset" -j "$jobs"; then
    say "$preset: passed (build $((t1 - t0)) s, tests $((SECONDS - t1)) s)"
  else
    say "$preset: tests FAILED (build $((t1 - t0)) s, tests $((SECONDS - t1)) s)"
    failed+=("$preset (tests)")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  say "FAILED: ${failed[*]} ($((SECONDS - started)) s)"
  exit 1
fi
say "all passed in $((SECONDS - started)) s"
