#!/usr/bin/env bash
# Black-box test of `orvsite mesh`: three sites, each on its own "machine"
# (an sshd on a free 127.0.0.1 port with its own host key and its own
# authorized_keys file), laid out as a full mesh from one roster file and
# verified; a wrong fingerprint, a missing line, a key without its forced
# command and a changed host key are each caught.
#   mesh_test.sh BIN_DIR SAMPLES_DIR
set -uo pipefail

bin=$(cd "$1" && pwd)
samples=$(cd "$2" && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-mesh-test
need ssh-keyscan rsync rrsync
user=$(id -un)
# The operator's own key, which may log in to every machine to install lines.
ssh-keygen -q -t ed25519 -N '' -f "$t/operator_key"

# machine NAME: an sshd for the site NAME, its keys in $t/NAME.authorized_keys.
machine() {
  cp "$t/operator_key.pub" "$t/$1.authorized_keys"
  sshd_prepare "$1"
  start_sshd "$1"
}
fingerprint() { ssh-keygen -lf "$t/$1.host_key.pub" | awk '{ print $2 }'; }
site() {
  mkdir -p "$t/$1"
  "$bin/orvsite" new "$t/$1/site" --server-id "srv-$1" --orv-id "$1" >/dev/null || exit 1
  cp "$samples/$1/config.txt" "$t/$1/site/html/"
  install -m 0755 "$samples"/ssh/* "$t/$1/site/html/"
}
for s in north east south; do machine "$s"; site "$s"; done
roster_line() { echo "$1-site  $1  127.0.0.1  ${sshd_ports[$1]}  $user  $t/$1/site  ${2:-$(fingerprint "$1")}"; }
{
  echo "# site  orv id  host  port  user  site directory  host key"
  for s in north east south; do roster_line "$s"; done
} >"$t/roster"
mesh() { "$bin/orvsite" mesh "$@" >"$t/out" 2>"$t/err"; }

# --- a bad roster and a wrong fingerprint ------------------------------------
echo "east 127.0.0.1" >"$t/bad_roster"
check "a short roster line is refused" not mesh add "$t/north/site" "$t/bad_roster"
check "with its line number" contains "$t/err" "bad_roster:1: a roster line has 7 words"
{ roster_line north; roster_line east SHA256:not-east; } >"$t/wrong_roster"
check "a host showing another key is not added" not mesh add "$t/north/site" "$t/wrong_roster"
check "and the line says why" contains "$t/out" "east: NOT ADDED: orvsite peer add: the host key of 127.0.0.1 is $(fingerprint east), not SHA256:not-east"
check "nothing is in the host map" not grep -qs '^east' "$t/north/site/html/orv_hosts"

# --- north from the roster, lines printed -------------------------------------
check "north adds its peers" mesh add "$t/north/site" "$t/roster"
cp "$t/out" "$t/north.add"
check "east is added" contains "$t/north.add" "east: added ($user@127.0.0.1:${sshd_ports[east]}, $t/east/site, host key $(fingerprint east)); on 127.0.0.1 add to the authorized_keys of $user:"
check "south is added" contains "$t/north.add" "south: added ("
check "the summary" contains "$t/north.add" "mesh add: 2 added, 0 a peer already, 0 not added"
check "known_hosts pins both keys" [ "$(grep -c ssh-ed25519 "$t/north/site/html/ssh/known_hosts")" -eq 2 ]
check "the check sees the missing lines" not mesh check "$t/north/site" "$t/roster"
check "a login refused" contains "$t/out" "east: LOGIN REFUSED ($user@127.0.0.1:${sshd_ports[east]}):"
check "its summary" contains "$t/out" "mesh check: 2 peers, 0 in order, 2 troubles"
for s in east south; do grep "^command=\"$t/$s/site/html/orv_ssh_serve.sh " "$t/north.add" >>"$t/$s.authorized_keys"; done
mesh add "$t/north/site" "$t/roster"
check "a second add leaves the peers" contains "$t/out" "mesh add: 0 added, 2 a peer already, 0 not added"
check "the roster misses nothing" mesh check "$t/north/site" "$t/roster"
check "north's mesh is in order" contains "$t/out" "east: in order ($user@127.0.0.1:${sshd_ports[east]}, host key $(fingerprint east), forced command in place)"

# --- east and south install their lines themselves ----------------------------
for s in east south; do
  check "$s adds and installs" mesh add "$t/$s/site" "$t/roster" --install-key "$t/operator_key" \
    --authorized-keys "$t/%o.authorized_keys"
  check "$s installed its lines" contains "$t/out" "its authorized_keys has the forced command now"
done
check "north has a line for each of them" [ "$(grep -c "^command=\"$t/north/site/html/orv_ssh_serve.sh " "$t/north.authorized_keys")" -eq 2 ]
for s in north east south; do
  check "$s's mesh is in order" mesh check "$t/$s/site" "$t/roster"
  check "$s: two peers in order" contains "$t/out" "mesh check: 2 peers, 2 in order, 0 troubles"
done
# A delivery over the mesh: north's query reaches east.
(cd "$t/north/site" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=q-1&i_am=optics%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=x%23%21&i_comment=x%23%21&vantle_type=Info_Gathering&sym_name=q-1" ./orv.cgi) >/dev/null 2>&1
check "north sends over the mesh" "$bin/orvsite" exchange "$t/north/site"
check "east has north's message" [ -n "$(find "$t/east/site/html/inbox" -maxdepth 1 -type f ! -name '.*')" ]

# --- faults -------------------------------------------------------------------
# A line without the forced command lets the key run anything.
grep -v "^command=\"$t/east/site/html/orv_ssh_serve.sh " "$t/east.authorized_keys" >"$t/keys.new"
echo "$(cat "$t/north/site/html/ssh/id_ed25519.pub")" >>"$t/keys.new"
mv "$t/keys.new" "$t/east.authorized_keys"
check "a key with no forced command is a trouble" not mesh check "$t/north/site"
check "its line" contains "$t/out" "east: NO FORCED COMMAND: the site's key may run any command on $user@127.0.0.1:${sshd_ports[east]}"
check "south is still in order" contains "$t/out" "south: in order"
# south's machine comes back with another host key.
stop_sshd south
check "a site down is unreachable" not mesh check "$t/north/site"
check "its line" contains "$t/out" "south: UNREACHABLE ($user@127.0.0.1:${sshd_ports[south]}): no answer from its sshd"
ssh-keygen -q -t ed25519 -N '' -f "$t/south.other_key"
sed -i "s|^HostKey .*|HostKey $t/south.other_key|" "$t/south.sshd_config"
start_sshd south
check "a changed host key is a trouble" not mesh check "$t/north/site"
check "its line" contains "$t/out" "south: HOST KEY CHANGED: $user@127.0.0.1:${sshd_ports[south]} shows $(ssh-keygen -lf "$t/south.other_key.pub" | awk '{ print $2 }'), ssh/known_hosts holds $(fingerprint south)"

finish
