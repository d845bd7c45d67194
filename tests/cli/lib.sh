# Shared set-up of the shell tests and benchmarks; sourced, never run:
#   . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"      (from tests/cli)
# It gives:
#   test_dir PREFIX        makes the temporary directory $t; on exit the
#                          cleanup runs the hooks of `on_exit`, stops the SSH
#                          server and removes $t (kept when KEEP_TEST_DIRS
#                          is set)
#   on_exit COMMAND        adds a command to the cleanup
#   need TOOL...           ends the script when a tool is missing
#   fail, check, not, contains, files, count, finish
#                          the checks of a test; `finish` reports the
#                          failures and gives the exit status
#   port_free PORT, free_port [OTHER]
#                          ports of 127.0.0.1; free_port prints a free one
#                          (not OTHER)
#   sshd_prepare [NAME], start_sshd [NAME], stop_sshd [NAME]
#                          an SSH server on 127.0.0.1 only, at a free port,
#                          with its own host key, its own authorized keys
#                          and a temporary configuration; no system service
#                          is touched. Without NAME: port $port, files
#                          $t/host_key and $t/authorized_keys. With NAME
#                          (one server per site): port ${sshd_ports[NAME]},
#                          files $t/NAME.host_key and $t/NAME.authorized_keys.
#                          SSHD_EXTRA holds more lines for the configuration.
#                          The cleanup stops every server.

lib_name=${0##*/}
t=""
failures=0
sshd_pid=""
declare -A sshd_pids=() sshd_ports=()
lib_exit_hooks=()

lib_cleanup() {
  local hook
  for hook in "${lib_exit_hooks[@]}"; do eval "$hook"; done
  local name
  # The connections the sites' put scripts keep open (ssh names each
  # after its socket).
  [ -z "$t" ] || pkill -f -- "^ssh: $t/" 2>/dev/null
  for name in "${!sshd_pids[@]}"; do stop_sshd "$name"; done
  stop_sshd
  [ -n "$t" ] || return 0
  if [ -n "${KEEP_TEST_DIRS:-}" ]; then echo "kept $t"; else rm -rf "$t"; fi
}

test_dir() {
  t=$(mktemp -d "/tmp/$1.XXXXXX") || exit 1
  trap lib_cleanup EXIT
}

on_exit() { lib_exit_hooks+=("$1"); }

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null ||
      { echo "$lib_name: $tool is missing: bash scripts/deps.sh test" >&2; exit 1; }
  done
}

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: the command must succeed.
check() {
  local what=$1
  shift
  "$@" || fail "$what"
}
not() { ! "$@"; }
# contains FILE TEXT: FILE holds TEXT (fixed string); shows FILE when not.
contains() { grep -qF -- "$2" "$1" || { echo "--- $1:" >&2; cat "$1" >&2; false; }; }
# The files in a directory, without hidden ones, and how many there are.
files() { find "$1" -maxdepth 1 -type f ! -name '.*' -printf '%f\n' 2>/dev/null | sort; }
count() { files "$1" | wc -l; }
# The exit status of a test: 1 when a check failed.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$lib_name: $failures check(s) failed" >&2
    exit 1
  fi
  echo "$lib_name: every check passed"
  exit 0
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# Ports are taken below 32000: the kernel hands out the ports above
# (ip_local_port_range, 32768 and up by default) to outgoing connections,
# which may take one between this check and the server's bind.
free_port() {
  local candidate
  for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 12000))
    if port_free "$candidate" && [ "$candidate" != "${1:-}" ]; then echo "$candidate"; return; fi
  done
  echo "no free port" >&2
  exit 1
}

# The file prefix of the server NAME (none for the unnamed one).
sshd_files() { echo "$t/${1:+$1.}"; }

sshd_prepare() {
  need /usr/sbin/sshd ssh ssh-keygen
  local f p
  f=$(sshd_files "${1:-}")
  ssh-keygen -q -t ed25519 -N '' -f "${f}host_key"
  [ -e "${f}authorized_keys" ] || : >"${f}authorized_keys"
  # As root, sshd separates privileges into this directory (Debian creates
  # it when its service starts).
  if [ "$(id -u)" -eq 0 ] && [ ! -d /run/sshd ]; then mkdir -m 0755 /run/sshd; fi
  p=$(free_port) || exit 1
  if [ -n "${1:-}" ]; then sshd_ports[$1]=$p; else port=$p; fi
  cat >"${f}sshd_config" <<CONF
ListenAddress 127.0.0.1
Port $p
HostKey ${f}host_key
PidFile ${f}sshd.pid
AuthorizedKeysFile ${f}authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
LogLevel ERROR
${SSHD_EXTRA:-}
CONF
}

# Starts the server; returns once it listens (one that could not bind has
# ended, and the script ends with its log).
start_sshd() {
  local f p pid
  f=$(sshd_files "${1:-}")
  /usr/sbin/sshd -D -e -f "${f}sshd_config" 2>>"$t/sshd.log" &
  pid=$!
  if [ -n "${1:-}" ]; then sshd_pids[$1]=$pid; p=${sshd_ports[$1]}; else sshd_pid=$pid; p=$port; fi
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    if ! port_free "$p"; then return 0; fi
    sleep 0.1
  done
  echo "sshd did not start:" >&2
  cat "$t/sshd.log" >&2
  exit 1
}

stop_sshd() {
  local pid
  if [ -n "${1:-}" ]; then pid=${sshd_pids[$1]:-}; unset "sshd_pids[$1]"; else pid=$sshd_pid; sshd_pid=""; fi
  if [ -n "$pid" ]; then
    # Its connections too, as when the machine goes away.
    pkill -P "$pid" 2>/dev/null
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  return 0
}
