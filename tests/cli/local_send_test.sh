#!/usr/bin/env bash
# Black-box test of the sample send script for sites on one machine
# (samples/site/orv_ftp_put.cmd): killed with its whole process group after
# any one of its file operations and then run again, it delivers every
# message exactly once and leaves no copy behind.
#   local_send_test.sh SAMPLES_DIR
# The script's file operations (cp, mv, rm, ln, mkdir) go through a wrapper
# that counts them; in round K the wrapper kills the script's process group
# right after the K-th one. The rounds go on until a round's script ends by
# itself before its K-th operation.
set -uo pipefail

samples=$(cd "$1" && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-local-send-test

# The wrapper: does the operation, then kills its process group at the
# operation numbered $KILL_AT.
mkdir "$t/shim"
cat >"$t/shim/op" <<'SHIM'
#!/bin/sh
n=$(($(cat "$OP_COUNT") + 1))
echo "$n" >"$OP_COUNT"
PATH=$REAL_PATH "${0##*/}" "$@"
rc=$?
[ "$n" -ne "$KILL_AT" ] || kill -KILL 0
exit $rc
SHIM
chmod +x "$t/shim/op"
real_path=$PATH
for op in cp mv rm ln mkdir; do ln -s op "$t/shim/$op"; done

# A fresh root with north (the sender), east and south; east's inbox
# already holds a file under the name of one of north's messages.
setup() {
  rm -rf "$t/root"
  local s
  for s in north east south; do
    mkdir -p "$t/root/$s/html/outbox"
    cp "$samples/$s/config.txt" "$t/root/$s/html/"
    install -m 0755 "$samples/orv_ftp_put.cmd" "$t/root/$s/html/"
  done
  mkdir -p "$t/root/east/html/inbox"
  echo "from south" >"$t/root/east/html/inbox/east17000000000"
  echo "one for east" >"$t/root/north/html/outbox/east17000000000"
  echo "two for east" >"$t/root/north/html/outbox/east17000000011"
  echo "one for south" >"$t/root/north/html/outbox/south17000000000"
}

# send KILL_AT: one run of north's script in a process group of its own;
# its exit status.
send() {
  echo 0 >"$t/count"
  # (bash's own note on the killed subshell is not wanted)
  { (cd "$t/root/north/html" &&
    OP_COUNT=$t/count KILL_AT=$1 REAL_PATH=$real_path PATH=$t/shim:$real_path exec setsid ./orv_ftp_put.cmd) \
    2>>"$t/err"; } 2>/dev/null
}

# Every message in exactly one inbox, once; nothing left on the way.
delivered_once() {
  local got
  got=$(cat "$t"/root/*/html/inbox/* | sort | tr '\n' ',')
  [ "$got" = "from south,one for east,one for south,two for east," ] ||
    { echo "inboxes hold: $got" >&2; return 1; }
  [ -z "$(ls -A "$t/root/north/html/outbox")" ] || { echo "outbox not empty" >&2; return 1; }
  local left
  left=$(find "$t/root" \( -path '*/.incoming/*' -o -path '*/.outbox-local/*' -o -name '.incoming.*' \) \
    -type f ! -name .lock)
  [ -z "$left" ] || { echo "left on the way: $left" >&2; return 1; }
}

k=1
while :; do
  setup
  send "$k"
  first=$?
  ops=$(cat "$t/count")
  if [ "$ops" -lt "$k" ]; then
    [ "$first" -eq 0 ] || fail "an unkilled run fails ($first)"
    delivered_once || fail "an unkilled run"
    break
  fi
  send 0 || fail "the run after a kill after operation $k fails"
  delivered_once || fail "killed after operation $k and run again"
  k=$((k + 1))
  [ "$k" -le 500 ] || { fail "the script never ends"; break; }
done
[ "$k" -gt 5 ] || fail "only $k rounds: the wrapper was not used"

# A file for a site that is not on this machine stays and is reported.
setup
echo "for west" >"$t/root/north/html/outbox/west17000000000"
send 0 && fail "a file without a site succeeds"
[ -f "$t/root/north/html/outbox/west17000000000" ] || fail "a file without a site is gone"
grep -qF "no site on this machine for west17000000000" "$t/err" || fail "a file without a site is not reported"

echo "local_send_test.sh: $k rounds"
finish
