#!/usr/bin/env bash
# Installs, with apt, the Debian packages a task needs and the machine lacks.
#   scripts/deps.sh build   compilers (GCC and Clang), CMake, GoogleTest, flex,
#                           bison, dpkg-dev for `cpack -G DEB`, and help2man
#                           for the manual pages
#   scripts/deps.sh test    the build packages and what the CTest suite
#                           runs: an SSH server and client, rsync (with
#                           rrsync, a Python 3 script), lighttpd, curl and
#                           openssl (the exchange and access tests),
#                           lighttpd's TLS module (the operator guide's lines
#                           are tried with it), man-db (the install test
#                           renders the manual pages), prometheus (promtool
#                           checks the metrics of orvsite status), jq (reads
#                           its JSON), logrotate (checks the shipped
#                           configuration), python3-jsonschema (checks
#                           orv's JSON answers against their schema) and
#                           lintian (checks the Debian package)
#   scripts/deps.sh demo    the build packages, the lighttpd web server and
#                           openssl (for the password file of AUTH)
#   scripts/deps.sh fuzz    the build packages, clang with its sanitizer and
#                           libFuzzer runtimes, and the symbolizer
#   scripts/deps.sh browser the demo packages, Chromium and a font for the
#                           browser tests, and Node.js with npm when no
#                           `node` is installed
set -euo pipefail

want=(g++ make cmake libgtest-dev flex bison)
# operator: Clang for the build matrix, dpkg-dev (dpkg-shlibdeps) for cpack,
# help2man for the manual pages (without it the build skips them).
want+=(clang dpkg-dev help2man)
case "${1:-build}" in
  build) ;;
  test) want+=(openssh-server openssh-client rsync python3 lighttpd lighttpd-mod-openssl curl
                openssl man-db prometheus jq logrotate python3-jsonschema lintian) ;;
  demo) want+=(lighttpd openssl) ;;
  fuzz) want+=(clang libclang-rt-14-dev llvm-14) ;;
  browser)
    want+=(lighttpd chromium fonts-dejavu-core)
    # A node installed some other way (with its own npm) is used as it is.
    command -v node >/dev/null 2>&1 || want+=(nodejs npm)
    ;;
  *) echo "usage: $0 build|test|demo|fuzz|browser" >&2; exit 2 ;;
esac

missing=()
for pkg in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
