#!/bin/sh
# One wine server for a whole ctest run of a Windows build (run by ctest before and after the
# tests, see tests/CMakeLists.txt).
#
#   wine-server.sh start MARKER   start a persistent server and wine's own services, unless a
#                                 server already runs for this prefix; MARKER records that this
#                                 script started it
#   wine-server.sh stop MARKER    stop the server, if MARKER says the start step started it
#
# Without it every test starts a server of its own, and ctest waits for that server and wine's
# services to exit (they keep the test's output pipe open) for about 2.5 s a test. Here they are
# started with their output going nowhere, so each test only connects to them.
# The server ends by itself 60 s after the last test's process if the stop step never runs.
set -u
action=${1:?start or stop}
marker=${2:?marker file}
prefix=${WINEPREFIX:-$HOME/.wine}
export WINEDEBUG="${WINEDEBUG:--all,err+module}"

case $action in
start)
  rm -f "$marker"
  mkdir -p "$prefix" || exit 1
  wineserver -p60 </dev/null >/dev/null 2>&1
  status=$?
  case $status in
  0) : >"$marker" ;;
  2) ;;  # a server already runs for this prefix: leave it to whoever started it
  *)
    echo "wine-server.sh: wineserver failed to start (status $status)" >&2
    exit 1
    ;;
  esac
  # Creates the prefix on first use (a few seconds), then starts wine's services.
  if ! wine wineboot </dev/null >/dev/null 2>&1; then
    echo "wine-server.sh: wineboot failed in $prefix" >&2
    exit 1
  fi
  ;;
stop)
  if [ -e "$marker" ]; then
    rm -f "$marker"
    wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
  ;;
*)
  echo "wine-server.sh: unknown action '$action'" >&2
  exit 2
  ;;
esac
