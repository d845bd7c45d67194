#!/usr/bin/env bash
# Black-box test of `orvsite peer` against an SSH server that this test
# starts on 127.0.0.1 (a free port, its own host key, a temporary
# configuration): two sites on two "machines" become peers by command, the
# printed authorized_keys line lets the key deliver and nothing else, and
# the peers are listed, re-keyed and removed.
#   peer_test.sh BIN_DIR SAMPLES_DIR
set -uo pipefail

bin=$(cd "$1" && pwd)
samples=$(cd "$2" && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-peer-test
need ssh-keyscan rsync rrsync
sshd_prepare
start_sshd

# Two sites laid out by orvsite, with the SSH transfer scripts.
site() {
  mkdir -p "${1%/*}"
  "$bin/orvsite" new "$1" --server-id "srv-$2" --orv-id "$2" >/dev/null || exit 1
  cp "$samples/$2/config.txt" "$1/html/"
  install -m 0755 "$samples"/ssh/* "$1/html/"
}
a=$t/machine-a/north
b=$t/machine-b/east
site "$a" north
site "$b" east
user=$(id -un)
expected=$(ssh-keygen -lf "$t/host_key.pub" | awk '{ print $2 }')
peer() { "$bin/orvsite" peer "$@" >"$t/out" 2>"$t/err"; }

# --- add ---------------------------------------------------------------------
check "a wrong fingerprint is refused" not peer add "$a" east 127.0.0.1 --port "$port" \
  --user "$user" --site-dir "$b" --fingerprint SHA256:wrong
check "and says so" contains "$t/err" "is $expected, not SHA256:wrong"
check "nothing is added" [ ! -e "$a/html/orv_hosts" ]
check "an answer other than y is refused" not peer add "$a" east 127.0.0.1 --port "$port" \
  --user "$user" --site-dir "$b" <<<"n"
check "nothing is added then either" [ ! -e "$a/html/orv_hosts" ]
check "a y adds the peer" peer add "$a" east 127.0.0.1 --port "$port" --user "$user" --site-dir "$b" <<<"y"
check "the fingerprint is shown" contains "$t/out" "127.0.0.1 port $port shows the host key $expected"
check "the host map has the line" contains "$a/html/orv_hosts" "east  $user@127.0.0.1:$port  $b"
check "known_hosts has the key" contains "$a/html/ssh/known_hosts" "[127.0.0.1]:$port ssh-ed25519 "
line=$(tail -n 1 "$t/out")
check "the authorized_keys line has the forced command" \
  [ "${line%% ssh-ed25519 *}" = "command=\"$b/html/orv_ssh_serve.sh $b\",restrict,from=\"127.0.0.1\"" ]
check "a peer is added once" not peer add "$a" EAST 127.0.0.1 --port "$port" --yes
echo "$line" >>"$t/authorized_keys"
check "the other way, by fingerprint" peer add "$b" north 127.0.0.1 --port "$port" --user "$user" \
  --site-dir "$a" --fingerprint "$expected"
tail -n 1 "$t/out" >>"$t/authorized_keys"

check "list names the peer and its host key" peer list "$a"
check "list line" [ "$(cat "$t/out")" = "east  $user@127.0.0.1:$port  $b  $expected" ]

# --- the key delivers, and only that -----------------------------------------
orv() {
  (cd "$1" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$2" ./orv.cgi) >"$t/page" 2>>"$t/orv.err" ||
    fail "orv.cgi in $1 on $2"
}
query() {
  orv "$a" "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=$1&i_am=optics%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=x%23%21&i_comment=x%23%21&vantle_type=Info_Gathering&sym_name=$1"
}
query q-1
check "north sends to east" "$bin/orvsite" exchange "$a"
check "the file arrives once" [ "$(count "$b/html/inbox")" -eq 1 ]
check "east picks up and answers" "$bin/orvsite" exchange "$b"
check "the key cannot run id" not ssh -F /dev/null -p "$port" -i "$a/html/ssh/id_ed25519" -o BatchMode=yes \
  -o UserKnownHostsFile="$a/html/ssh/known_hosts" "$user@127.0.0.1" id
check "its refusal" [ "$(ssh -F /dev/null -p "$port" -i "$a/html/ssh/id_ed25519" -o BatchMode=yes \
  -o UserKnownHostsFile="$a/html/ssh/known_hosts" "$user@127.0.0.1" id 2>&1 | grep -c uid=)" -eq 0 ]

# --- rotate-key ----------------------------------------------------------------
check "rotate-key" peer rotate-key "$a"
check "it keeps the old key" [ -f "$a/html/ssh/id_ed25519.old" ]
new_line=$(grep '^command=' "$t/out")
check "it prints east's new line" [ "${new_line%% ssh-ed25519 *}" = "${line%% ssh-ed25519 *}" ]
check "with the new key" [ "${new_line##* ssh-ed25519 }" = "$(cut -d' ' -f2- "$a/html/ssh/id_ed25519.pub")" ]
query q-2
"$bin/orvsite" exchange "$a" >"$t/out" 2>"$t/err"
check "until east has the new line, the send fails" contains "$t/err" "cannot reach east"
check "and the file waits" [ "$(count "$a/html/outbox")" -eq 1 ]
grep -vF "${line##* ssh-ed25519 }" "$t/authorized_keys" >"$t/keys.new"
echo "$new_line" >>"$t/keys.new"
mv "$t/keys.new" "$t/authorized_keys"
check "with it, the file goes" "$bin/orvsite" exchange "$a"
check "outbox is empty" [ "$(count "$a/html/outbox")" -eq 0 ]

# --- remove --------------------------------------------------------------------
check "remove" peer remove "$a" east
check "the host map has no east" not grep -q '^east' "$a/html/orv_hosts"
check "known_hosts has no key of east's host" not grep -qF "[127.0.0.1]:$port" "$a/html/ssh/known_hosts"
check "list is empty" peer list "$a"
check "list output" [ ! -s "$t/out" ]
check "removing again fails" not peer remove "$a" east

finish
