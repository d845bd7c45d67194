#!/usr/bin/env bash
# Builds the programs, lays out three demo sites (north, east and south) and
# a start page outside the source tree and serves them with lighttpd on
# 127.0.0.1 until stopped (Ctrl-C).
#   PORT       port to listen on (default 8080)
#   DEMO_DIR   where the sites are laid out (default /tmp/orv-demo)
#   BUILD_DIR  build tree (default build)
#   AUTH       user:password: the programs that change a site (orv.cgi,
#              cellkit.cgi) ask for this user (HTTP basic authentication);
#              off by default, since the demo listens on 127.0.0.1 only
# The layout alone (no build, no server) is scripts/demo_layout.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

port=${PORT:-8080}
demo=${DEMO_DIR:-/tmp/orv-demo}
build=${BUILD_DIR:-build}

# operator: the port must be free, or lighttpd would fail after the start
# page was printed. Anything that accepts a connection on it holds it.
port_taken() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}
case $port in '' | *[!0-9]*) echo "demo.sh: PORT must be a number, not '$port'" >&2; exit 1 ;; esac
if port_taken "$port"; then
  echo "demo.sh: port $port on 127.0.0.1 is in use (another demo or server?)." >&2
  echo "demo.sh: stop that program, or choose another port: PORT=8081 bash scripts/demo.sh" >&2
  exit 1
fi

bash scripts/deps.sh demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only the programs the demo serves, and the operator's command that lays
# its sites out (the tests are scripts/test.sh's).
targets=(orv vexil orvsite)
if cmake --build "$build" --target help | grep -x '\.\.\. cellkit' >/dev/null; then targets+=(cellkit); fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"

BUILD_DIR=$build DEMO_DIR=$demo PORT=$port bash scripts/demo_layout.sh
demo=$(cd "$demo" && pwd)

if port_taken "$port"; then
  echo "demo.sh: port $port on 127.0.0.1 was taken meanwhile; choose another with PORT=..." >&2
  exit 1
fi
echo "Serving the demo sites from $demo/www (server errors: $demo/error.log, the programs' standard error: $demo/programs.log)"
echo "Start page: http://127.0.0.1:$port/vexil.cgi?zoa_name=start (Ctrl-C stops the server)"
if [ -n "${AUTH:-}" ]; then echo "The programs ask for the user ${AUTH%%:*} (password file: $demo/htpasswd)"; fi
exec lighttpd -D -f "$demo/lighttpd.conf"
