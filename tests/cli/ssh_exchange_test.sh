#!/usr/bin/env bash
# Black-box test of the SSH transfer scripts (samples/site/ssh) between
# sites on "separate machines": each site lives in a root of its own and
# reaches the others only through an SSH server that this test starts on
# 127.0.0.1 (a free port, its own host key, one authorized key, a
# temporary configuration; no system service is touched).
#   ssh_exchange_test.sh BIN_DIR SAMPLES_DIR
# BIN_DIR holds orv and orvsite; SAMPLES_DIR is samples/site.
#
# 1. A query from north to east and its answer back, every send and
#    pick-up run by `orvsite exchange`.
# 2. Faults: east unreachable (the server stopped), a changed host key and
#    a refused key, each told in ssh's words; a copy killed half-way
#    and sent again; a confirmation lost after the link-in; two senders
#    that write the same file name to east in the same second.
# 3. What the sites' key cannot do, 4. what a peer's own key may deliver
#    (named files, or a delivery in one session, within the limits).
set -uo pipefail

bin=$(cd "$1" && pwd)
samples=$(cd "$2" && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-ssh-test
need rsync

# --- The SSH server -------------------------------------------------------
ssh-keygen -q -t ed25519 -N '' -f "$t/client_key"
a=$t/machine-a/north
b=$t/machine-b/east
c=$t/machine-c/south
# The sites' key may only deliver: its forced command serves the copy into
# a staging directory and the link-in of the three sites, nothing else.
echo "command=\"$b/html/orv_ssh_serve.sh $a $b $c\",restrict $(cat "$t/client_key.pub")" >"$t/authorized_keys"
sshd_prepare
start_sshd

# --- Three sites on three "machines" ---------------------------------------
# site ROOT NAME: lays out the site NAME in ROOT/NAME with the SSH scripts,
# the test's key and the server's host key.
site() {
  local dir=$1/$2 f
  mkdir -p "$dir/html/ssh"
  install -m 0755 "$bin/orv" "$dir/orv.cgi"
  for f in VANTLE.in kb.txt site.config; do cp "$samples/$f" "$dir/html/"; done
  cp "$samples/$2/config.txt" "$dir/html/"
  install -m 0755 "$samples"/ssh/orv_ftp_put.cmd "$samples"/ssh/orv_ftp_get.cmd \
    "$samples"/ssh/orv_ssh_link.sh "$samples"/ssh/orv_ssh_serve.sh "$dir/html/"
  install -m 0600 "$t/client_key" "$dir/html/ssh/id_ed25519"
  echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$t/host_key.pub")" >"$dir/html/ssh/known_hosts"
  {
    echo "# orv id   where            site directory"
    for peer in "${@:3}"; do echo "$peer"; done
  } >"$dir/html/orv_hosts"
}
where="$(id -un)@127.0.0.1:$port"
site "$t/machine-a" north "east  $where  $b"
site "$t/machine-b" east "north $where  $a" "South $where $c   # a comment"
site "$t/machine-c" south "EAST  $where  $b"

# orv SITE_DIR QUERY: one request, as the web server runs it.
orv() {
  (cd "$1" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$2" ./orv.cgi) >"$t/page" 2>>"$t/orv.err" ||
    fail "orv.cgi in $1 on $2"
}
create() { # SITE DOC I_AM TYPE NAME
  orv "$1" "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=$2&i_am=$3%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=$4&sym_name=$5"
}
# exchange SITE_DIR: `orvsite exchange`, its standard error in $t/err.
exchange() {
  "$bin/orvsite" exchange "$1" >"$t/out" 2>"$t/err"
}
# put SITE_DIR: the site's put script by itself.
put() { (cd "$1/html" && ./orv_ftp_put.cmd) 2>"$t/err"; }

# --- 1. A query round trip -------------------------------------------------
create "$b" doc-lens optics Archives lens
create "$b" doc-ball football Archives ball
create "$a" q-1 mechanics Info_Gathering ask
check "north writes one file for east" [ "$(count "$a/html/outbox")" -eq 1 ]

check "exchange at north succeeds" exchange "$a"
check "north's outbox is sent" [ "$(count "$a/html/outbox")" -eq 0 ]
check "the query is in east's inbox" [ "$(count "$b/html/inbox")" -eq 1 ]
check "nothing is left staged at east" [ "$(count "$b/html/.inbox-staging")" -eq 0 ]

check "exchange at east succeeds" exchange "$b"
check "east's inbox is picked up" [ "$(count "$b/html/inbox")" -eq 0 ]
check "east sends its answer in the same run" [ "$(count "$b/html/outbox")" -eq 0 ]
check "east's run reports both" contains "$t/out" "sent 1 message, picked up 1 message"
check "the answer is in north's inbox" [ "$(count "$a/html/inbox")" -eq 1 ]

check "exchange at north picks up" exchange "$a"
check "north's inbox is picked up" [ "$(count "$a/html/inbox")" -eq 0 ]
orv "$a" "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_VANTLE_RESULT"
check "north shows east's answer" contains "$t/page" \
  "<p>*** Saved Query Results for document with id = q-1:<br><br>
Doc id: doc-lens#!<br>
I am: optics#!<br>"
check "football is not an answer" not grep -q doc-ball "$t/page"

# peer SITE_DIR PEER JQ_FILTER: what orvsite status says of a peer, as JSON.
peer() {
  "$bin/orvsite" status --json "$1" | jq -c ".sites[0].peers[] | select(.orv_id == \"$2\") | $3"
}
check "north's record: east took its query and answered it" \
  [ "$(peer "$a" east '[.last_send > 0, .last_receive > 0, .failing_since]')" = "[true,true,null]" ]
check "east's record: north's query came from north" \
  [ "$(peer "$b" north '[.last_send > 0, .last_receive > 0]')" = "[true,true]" ]

check "a run with nothing to do succeeds" exchange "$a"
check "a run with nothing to do says nothing" [ -z "$(cat "$t/out" "$t/err")" ]

# The connection to east stays open between north's sends: the next send
# is a session on it. Once the map changes, it is not used again.
master() { ssh -F /dev/null -o ControlPath="$a/html/ssh/control/east" -O check x 2>&1 | tr -dc 0-9; }
touch -d '1 minute ago' "$a/html/orv_hosts" "$a/html/ssh/known_hosts" "$a/html/ssh/id_ed25519"
echo one >"$a/html/outbox/east17000000100"
check "a send to east" put "$a"
first=$(master)
check "leaves its connection open" [ -n "$first" ]
echo two >"$a/html/outbox/east17000000101"
check "the next send" put "$a"
check "goes over that connection" [ "$(master)" = "$first" ]
touch "$a/html/orv_hosts"
echo three >"$a/html/outbox/east17000000102"
check "a send after the map changed" put "$a"
second=$(master)
check "goes over a new one" [ "${second:-$first}" != "$first" ]
check "every file arrives" [ "$(cat "$b/html/inbox"/east1700000010*)" = "$(printf 'one\ntwo\nthree')" ]
# East with the forced command of an earlier version, which knows only the
# copy by rsync and the link-in: north's files go that way.
cp "$b/html/orv_ssh_serve.sh" "$t/serve.new"
sed '/"orv-deliver "\*)/,/;;/d' "$t/serve.new" >"$b/html/orv_ssh_serve.sh"
check "(the earlier forced command)" not grep -q '"orv-deliver ' "$b/html/orv_ssh_serve.sh"
echo four >"$a/html/outbox/east17000000103"
check "a send to the earlier version" put "$a"
check "arrives" [ "$(cat "$b/html/inbox/east17000000103")" = four ]
check "and is reported sent" contains "$t/err" "sent east17000000103 to east"
cp "$t/serve.new" "$b/html/orv_ssh_serve.sh"
rm -f "$b/html/inbox"/*

# --- 2. Faults -------------------------------------------------------------
# East unreachable: every file stays and the failure is reported.
stop_sshd
create "$a" q-2 optics Info_Gathering ask2
orv "$a" "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=q-3&i_am=arts%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=x%23%21&i_comment=x%23%21&vantle_type=Info_Gathering&sym_name=ask3"
waiting=$(ls "$a/html/outbox")
check "two files wait for east" [ "$(count "$a/html/outbox")" -eq 2 ]
exchange "$a"
check "the failure is reported" contains "$t/err" "orv_ftp_put.cmd: cannot reach east at $where"
check "the waiting files are named" contains "$t/err" "waiting in outbox for east: "
check "every file stays in outbox" [ "$(ls "$a/html/outbox")" = "$waiting" ]
cause=$(peer "$a" east '[.failing_since > 0, .failure_cause]')
case $cause in
  '[true,"orv_ftp_put.cmd: cannot reach east at '"$where"*) ;;
  *) fail "the status does not show east failing with its cause: $cause" ;;
esac
check "with ssh's own words" contains "$t/err" "Connection refused"
start_sshd
# A host key that is not the known one, and a key the server does not
# accept: ssh's own words reach the exchange's standard error.
ssh-keygen -q -t ed25519 -N '' -f "$t/other_key"
cp "$a/html/ssh/known_hosts" "$a/html/ssh/id_ed25519" "$t/"
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$t/other_key.pub")" >"$a/html/ssh/known_hosts"
exchange "$a"
check "a changed host key is told" contains "$t/err" "Host key verification failed"
cp "$t/known_hosts" "$a/html/ssh/known_hosts"
install -m 0600 "$t/other_key" "$a/html/ssh/id_ed25519"
exchange "$a"
check "a refused key is told" contains "$t/err" "Permission denied (publickey"
install -m 0600 "$t/id_ed25519" "$a/html/ssh/id_ed25519"
check "the files still wait" [ "$(ls "$a/html/outbox")" = "$waiting" ]
check "exchange at north after the server is back" exchange "$a"
check "east is no longer failing" [ "$(peer "$a" east '.failing_since')" = null ]
check "the files are sent once east is back" [ "$(count "$a/html/outbox")" -eq 0 ]
check "both arrive" [ "$(ls "$b/html/inbox")" = "$waiting" ]
check "exchange at east" exchange "$b"
check "east takes both" [ "$(count "$b/html/inbox")" -eq 0 ]

# A copy killed half-way: nothing half-written reaches east's inbox, and
# the next send delivers the file once. (The put script runs by itself
# here, slowed down so that it can be killed in the middle of the copy.)
name=east1700000000$RANDOM
head -c 3000000 /dev/urandom | base64 >"$a/html/outbox/$name"
cp "$a/html/outbox/$name" "$t/sent"
(cd "$a/html" && ORV_RSYNC_OPTIONS=--bwlimit=200 exec setsid ./orv_ftp_put.cmd) 2>/dev/null &
slow=$!
copying=""
for _ in $(seq 200); do
  part=$(find "$b/html/.inbox-staging" -maxdepth 1 -name '.*' -type f ! -name .lock -size +100k 2>/dev/null)
  if [ -n "$part" ]; then copying=yes; break; fi
  sleep 0.1
done
check "the slow copy has begun" [ -n "$copying" ]
kill -KILL -- "-$slow" 2>/dev/null
wait "$slow" 2>/dev/null
check "nothing reached east's inbox" [ "$(count "$b/html/inbox")" -eq 0 ]
check "nothing complete is staged" [ "$(count "$b/html/.inbox-staging")" -eq 0 ]
check "the file stays in outbox" [ -f "$a/html/outbox/$name" ]
check "the next send succeeds" put "$a"
check "the next send reports it" contains "$t/err" "sent $name to east (inbox/$name)"
check "the file arrives whole" cmp -s "$b/html/inbox/$name" "$t/sent"
check "the file arrives once" [ "$(count "$b/html/inbox")" -eq 1 ]
check "the killed run's working links are gone" [ -z "$(ls -d "$a"/html/.outbox-sending.* 2>/dev/null)" ]

# The confirmation lost after the link-in (the file is still in outbox):
# the repeat is recognised, the file is not delivered twice, and the outbox
# file goes.
cp "$t/sent" "$a/html/outbox/$name"
check "the repeat succeeds" put "$a"
check "the repeat leaves outbox empty" [ "$(count "$a/html/outbox")" -eq 0 ]
check "the repeat delivers nothing twice" [ "$(ls "$b/html/inbox")" = "$name" ]
check "the repeat reports no new delivery" not grep -q sent "$t/err"
rm -f "$b/html/inbox/$name"

# A copy staged at east whose link-in was cut off: east's pick-up links it
# in (orv_ftp_get.cmd), and the sender's repeat finds it delivered.
name=east1700000001$RANDOM
hash=$(sha256sum <"$t/sent" | cut -c1-32)
cp "$t/sent" "$b/html/.inbox-staging/north.$name.$hash"
cp "$t/sent" "$b/html/.inbox-staging/west.$name.$hash"
get() { (cd "$1/html" && ./orv_ftp_get.cmd) 2>"$t/err"; }
check "east's get script fails for the unknown sender" not get "$b"
check "the staged copy is linked in" cmp -s "$b/html/inbox/$name" "$t/sent"
check "a copy from a sender outside the map stays" [ -f "$b/html/.inbox-staging/west.$name.$hash" ]
check "and is reported" contains "$t/err" "west.$name.$hash comes from west, which is not in orv_hosts"
cp "$t/sent" "$a/html/outbox/$name"
check "the sender's repeat succeeds" put "$a"
check "the sender's repeat delivers nothing twice" [ "$(count "$b/html/inbox")" -eq 1 ]
rm -f "$b/html/inbox/$name" "$b/html/.inbox-staging/west.$name.$hash"

# Two senders, one name, one second: both files arrive, under two names
# that begin with east's orv id.
mkdir -p "$c/html/outbox"
echo "from north" >"$a/html/outbox/east17000000000"
echo "from south" >"$c/html/outbox/east17000000000"
put "$a" &
first=$!
(cd "$c/html" && ./orv_ftp_put.cmd) 2>"$t/err2" &
second=$!
check "north's send" wait "$first"
check "south's send" wait "$second"
check "both arrive" [ "$(ls "$b/html/inbox" | tr '\n' ' ')" = "east17000000000 east17000000000.1 " ]
check "with both contents" [ "$(sort "$b/html/inbox"/* | tr '\n' ' ')" = "from north from south " ]
check "both outboxes are empty" [ "$(count "$a/html/outbox")$(count "$c/html/outbox")" = 00 ]

# A file for a site that is not in the map stays and is reported.
echo "for west" >"$a/html/outbox/west17000000000"
check "a file without a peer fails the send" not put "$a"
check "it is reported" contains "$t/err" "no site in orv_hosts for west17000000000: it stays in outbox"
check "it stays" [ -f "$a/html/outbox/west17000000000" ]
rm -f "$a/html/outbox/west17000000000"

# East sends to three peers at once, one of them out of reach: the two
# others get their files, the third's stays with its own cause, and the
# sends do not mix up their confirmations.
closed=$(free_port "$port")
cp "$b/html/orv_hosts" "$t/east_hosts"
echo "west 127.0.0.1:$closed $t/machine-d/west" >>"$b/html/orv_hosts"
rm -f "$a/html/inbox"/* "$c/html/inbox"/*
mkdir -p "$b/html/outbox"
for peer in north south west; do echo "to $peer" >"$b/html/outbox/${peer}17000000001"; done
(cd "$b/html" && ORV_SEND_PARALLEL=3 ./orv_ftp_put.cmd) 2>"$t/err"
check "a peer out of reach fails the send" [ $? -eq 1 ]
check "north's file reaches north" [ "$(cat "$a/html/inbox/north17000000001")" = "to north" ]
check "south's file reaches south" [ "$(cat "$c/html/inbox/south17000000001")" = "to south" ]
check "only west's file stays" [ "$(ls "$b/html/outbox" | tr '\n' ' ')" = "west17000000001 " ]
check "west's cause is its own" contains "$t/err" "cannot reach west at 127.0.0.1:$closed"
check "and says why" contains "$t/err" "Connection refused"
check "the others are reported sent" contains "$t/err" "sent north17000000001 to north"
cp "$t/east_hosts" "$b/html/orv_hosts"
rm -f "$b/html/outbox"/* "$a/html/inbox"/* "$c/html/inbox"/*

# The same send by the compiled sender (`orvsite send`, which the put
# script hands its work to when ORVSITE names it), with the helpers the
# script's own code would start made to fail: the send does not need them.
# North takes its file, south refuses its one (over its staging limit),
# west cannot be reached; each is told as the script tells it.
mkdir -p "$t/no-helpers"
for tool in sed awk sha256sum stat head tail tr cut ls grep xargs mktemp; do
  printf '#!/bin/sh\necho %s >>"%s"\nexit 1\n' "$tool" "$t/helpers-run" >"$t/no-helpers/$tool"
  chmod +x "$t/no-helpers/$tool"
done
echo "west 127.0.0.1:$closed $t/machine-d/west" >>"$b/html/orv_hosts"
printf 'bytes 100\nfiles 50\n' >"$c/html/orv_staging_limits"
echo "to north" >"$b/html/outbox/north17000000002"
head -c 300 /dev/zero | tr '\0' s >"$b/html/outbox/south17000000002"
echo "to west" >"$b/html/outbox/west17000000002"
(cd "$b/html" && PATH="$t/no-helpers:$PATH" ORVSITE="$bin/orvsite" ./orv_ftp_put.cmd) 2>"$t/err"
check "the compiled send fails for the files that stay" [ $? -eq 1 ]
check "without the script's helpers" [ ! -e "$t/helpers-run" ]
check "north's file reaches north" [ "$(cat "$a/html/inbox/north17000000002")" = "to north" ]
check "and is reported sent" contains "$t/err" "orv_ftp_put.cmd: sent north17000000002 to north (inbox/north17000000002)"
check "south's refusal is told" contains "$t/err" "orv_ftp_put.cmd: South refused south17000000002 (refused: 300 bytes, over the staging limit of 100 bytes"
check "and its file waits" contains "$t/err" "orv_ftp_put.cmd: waiting in outbox for South: south17000000002 "
check "west cannot be reached" contains "$t/err" "orv_ftp_put.cmd: cannot reach west at 127.0.0.1:$closed:"
check "in ssh's words" contains "$t/err" "orv_ftp_put.cmd:   ssh: connect to host 127.0.0.1 port $closed: Connection refused"
check "and its file waits" contains "$t/err" "orv_ftp_put.cmd: waiting in outbox for west: west17000000002 "
check "only their files stay" [ "$(ls "$b/html/outbox" | tr '\n' ' ')" = "south17000000002 west17000000002 " ]
check "the work directory is gone" [ -z "$(ls -d "$b"/html/.outbox-sending.* 2>/dev/null)" ]
check "nothing reached south's inbox" [ "$(count "$c/html/inbox")" -eq 0 ]
# The script's own code, on files of other names, says the same.
rm -f "$b/html/outbox"/*
echo "to north" >"$b/html/outbox/north17000000003"
head -c 300 /dev/zero | tr '\0' s >"$b/html/outbox/south17000000003"
echo "to west" >"$b/html/outbox/west17000000003"
(cd "$b/html" && ./orv_ftp_put.cmd) 2>"$t/err2"
said() { sed 's/1700000000[23]/N/g' "$1" | sort; }
said "$t/err" >"$t/said"
said "$t/err2" >"$t/said2"
check "the script's code reports what the compiled sender does" diff "$t/said" "$t/said2"
cp "$t/east_hosts" "$b/html/orv_hosts"
rm -f "$c/html/orv_staging_limits" "$b/html/outbox"/* "$a/html/inbox"/*

# --- 3. What the sites' key cannot do --------------------------------------
key_ssh="ssh -F /dev/null -p $port -i $t/client_key -o IdentitiesOnly=yes -o BatchMode=yes"
key_ssh="$key_ssh -o UserKnownHostsFile=$a/html/ssh/known_hosts -o LogLevel=ERROR"
login=$(id -un)@127.0.0.1
as_peer() { $key_ssh "$login" "$@" >"$t/out" 2>"$t/err" </dev/null; }
check "the key may check its login" as_peer true
check "the key cannot run id" not as_peer id
check "id printed nothing" not grep -q uid= "$t/out"
check "the refusal is told" contains "$t/err" "orv_ssh_serve.sh: refused: this key only delivers messages"
check "nor a shell command line" not as_peer "touch $t/pwned; id"
echo "touch $t/pwned" >"$t/script"
$key_ssh "$login" "sh -s -- $b/html" <"$t/script" >/dev/null 2>&1
check "the link-in runs its own script, not the one sent" [ ! -e "$t/pwned" ]
check "nor the link-in of a site outside the forced command" not as_peer "sh -s -- $t/html"
echo outside >"$t/letter"
mkdir -p "$t/elsewhere"
rsync_as_peer() { rsync -t -e "$key_ssh" "$@" >/dev/null 2>"$t/err"; }
check "rsync cannot write outside a staging directory" not rsync_as_peer "$t/letter" "$login:$t/elsewhere/"
check "rsync cannot climb out of staging" not rsync_as_peer "$t/letter" "$login:$b/html/.inbox-staging/../"
check "rsync cannot write into inbox" not rsync_as_peer "$t/letter" "$login:$b/html/inbox/"
check "nothing was written" [ -z "$(find "$t/elsewhere" "$b/html/inbox" "$b/html" -maxdepth 1 -type f -name letter)" ]
check "rsync cannot read staging" not rsync_as_peer "$login:$b/html/.inbox-staging/" "$t/elsewhere/"
# A staged name that would leave inbox is refused, over ssh and at the pick-up.
hash=$(sha256sum <"$t/letter" | cut -c1-32)
cp "$t/letter" "$t/elsewhere/north....$hash"
check "a copy can be staged" rsync_as_peer "$t/elsewhere/north....$hash" "$login:$b/html/.inbox-staging/"
check "the link-in over ssh succeeds" as_peer "sh -s -- $b/html north....$hash"
check "and refuses the name .." contains "$t/out" "bad north....$hash"
cp "$t/letter" "$b/html/.inbox-staging/north.....$hash"
get "$b"
check "nothing was linked beside inbox" [ -z "$(find "$b/html" -maxdepth 1 -name 'north*')" ]
check "nor into inbox" [ -z "$(find "$b/html/inbox" -maxdepth 1 -name '.*' -type f)" ]
check "and the staged copies are dropped" [ -z "$(ls -A "$b/html/.inbox-staging" | grep north)" ]

# --- 4. What a peer's own key may deliver -----------------------------------
# South's key, as `orvsite peer add` writes its line: for east only, and
# only files that south sends.
ssh-keygen -q -t ed25519 -N '' -f "$t/south_key"
echo "command=\"$b/html/orv_ssh_serve.sh --peer south $b\",restrict $(cat "$t/south_key.pub")" >>"$t/authorized_keys"
south_ssh="ssh -F /dev/null -p $port -i $t/south_key -o IdentitiesOnly=yes -o BatchMode=yes"
south_ssh="$south_ssh -o UserKnownHostsFile=$a/html/ssh/known_hosts -o LogLevel=ERROR"
as_south() { $south_ssh "$login" "$@" >"$t/out" 2>"$t/err" </dev/null; }
stage() { rsync -rlt --force -e "$south_ssh" "$@" "$login:$b/html/.inbox-staging/" >/dev/null 2>"$t/err"; }
drop=$t/drop
mkdir -p "$drop" "$t/outside"
rm -rf "$b/html/inbox"/* "$b/html/.inbox-staging"/*
echo "message" >"$drop/m"
h=$(sha256sum <"$drop/m" | cut -c1-32)
foreign=north.east17000000009.$h
for n in north.east17000000009 south.rejected south.-x south.east.. south.x. south.east17000000009; do
  cp "$drop/m" "$drop/$n.$h"
done
# Links planted where the link-in kept its lock and marks.
ln -s "$t/outside" "$drop/done"
ln -s "$t/outside/x" "$drop/.lock"
mkdir -p "$drop/sub"
touch "$drop/sub/a"
check "south can stage its files and links" stage "$drop/"
check "south cannot start a link-in without naming files" not as_south "sh -s -- $b/html"
as_south "sh -s -- $b/html north.east17000000009.$h south.rejected.$h south.-x.$h south.east...$h south.x..$h south.east17000000009.$h"
check "south's key does not deliver for north" contains "$t/out" "refused north.east17000000009.$h sent with the key of south"
check "nor a name pick-up would not take" [ "$(grep -c '^refused south\.\|^bad south\.' "$t/out")" -eq 4 ]
check "south's own message is linked" contains "$t/out" "linked south.east17000000009.$h east17000000009"
check "and only it" [ "$(ls "$b/html/inbox")" = east17000000009 ]
check "nothing was made outside staging" [ -z "$(ls -A "$t/outside")" ]
check "what cannot be delivered is gone from staging" [ -z "$(ls -A "$b/html/.inbox-staging")" ]
check "the link-in's marks are its own" [ -f "$b/html/.inbox-link/done/south.east17000000009.$h" ]
rm -f "$b/html/inbox"/*
# A file over the staging limit is refused before it is read, and the
# refusals reach east's exchange log.
printf 'bytes 100000\nfiles 50\n' >"$b/html/orv_staging_limits"
rm -rf "${drop:?}"/* "$drop"/.lock
head -c 200000 /dev/zero >"$drop/big"
h=$(sha256sum <"$drop/big" | cut -c1-32)
mv "$drop/big" "$drop/south.east17000000010.$h"
check "a big file can be staged" stage "$drop/"
as_south "sh -s -- $b/html south.east17000000010.$h"
check "but is refused" contains "$t/out" "refused south.east17000000010.$h 200000 bytes, over the staging limit of 100000 bytes"
check "and removed" [ -z "$(ls -A "$b/html/.inbox-staging")" ]
# A flood: 100,000 files staged; a link-in names as many as one command
# line holds (sshd passes it in one environment string of at most 128 KiB:
# 2,000 transfer ids), takes the first 50, refuses the rest at once and
# empties staging of all 100,000.
rm -f "$drop"/*
python3 - "$drop" <<'PY'
import hashlib, os, sys
for i in range(100000):
    data = b"%d\n" % i
    name = "south.east17%08d.%s" % (i, hashlib.sha256(data).hexdigest()[:32])
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(data)
PY
started=$(date +%s)
check "the flood is staged" stage "$drop/"
staged_in=$(($(date +%s) - started))
check "all of it" [ "$(find "$b/html/.inbox-staging" -type f | wc -l)" -eq 100000 ]
ids=$(ls "$drop" | head -n 2000 | tr '\n' ' ')
started=$(date +%s)
as_south "sh -s -- $b/html $ids"
linked_in=$(($(date +%s) - started))
echo "the flood of 100000 files: staged in ${staged_in}s, linked in ${linked_in}s"
check "the flood's link-in ends within a minute" [ "$linked_in" -lt 60 ]
check "it links the first 50" [ "$(grep -c '^linked ' "$t/out")" -eq 50 ]
check "and refuses the others" [ "$(grep -c '^refused .* more than 50 files in one delivery' "$t/out")" -eq 1950 ]
check "staging is emptied" [ -z "$(ls -A "$b/html/.inbox-staging")" ]
rm -f "$b/html/inbox"/*
"$bin/orvsite" exchange "$b" --log "$t/exchange.log" >/dev/null 2>&1
check "the refusals are in east's exchange log" contains "$t/exchange.log" \
  "the link-in refused: $foreign"
check "with the big file's" contains "$t/exchange.log" "over the staging limit of 100000 bytes"
check "and the flood's" contains "$t/exchange.log" "a delivery of 2000 files: only the first 50 are taken"
check "told once" [ ! -e "$b/html/.inbox-link/refused" ]

# A delivery in one session with south's key: a header that is not one, a
# file over the limits and a cut connection each end the delivery there;
# what came before is linked in, nothing after it, nothing half. Received
# by the shell link-in (no orvsite on sshd's PATH), then by `orvsite
# deliver` (a second server whose sessions have it on their PATH).
frame() { printf '%-255s\n' "$1 $2"; } # ID SIZE
file() { # N: a message file for east, and its transfer id in $id
  printf 'message %s\n' "$1" >"$t/m"
  id=south.east170000002$1.$(sha256sum <"$t/m" | cut -c1-32)
}
deliver() { $south_ssh "$login" "orv-deliver $b/html" >"$t/out" 2>"$t/err"; }
SSHD_EXTRA="SetEnv PATH=$bin:/usr/bin:/bin" sshd_prepare compiled
start_sshd compiled
grep -F "$(cat "$t/south_key.pub")" "$t/authorized_keys" >"$t/compiled.authorized_keys"
for receiver in orv_ssh_link.sh "orvsite deliver"; do
echo "# received by $receiver"
rm -rf "$b/html/inbox"/* "$b/html/.inbox-staging"/* "$b/html/.inbox-link/done"/*
printf 'bytes 100000\nfiles 50\n' >"$b/html/orv_staging_limits"
file 1 && { frame "$id" 10 && cat "$t/m" && frame "../../etc/x" 1 && echo x; } | deliver
check "a file before a header that is not one is linked" contains "$t/out" "linked $id east1700000021"
check "the rest is not read" contains "$t/err" "the delivery holds no header where one belongs"
file 2 && { frame "$id" 10 && cat "$t/m" && head -c 10000000 /dev/zero | tr '\0' a; } | deliver
check "nor an endless header" [ "$(grep -c '^linked ' "$t/out")" -eq 1 ]
file 3 && { frame "$id" 200000 && head -c 200000 /dev/zero; } | deliver
check "a file over the limits is refused unread" contains "$t/out" "refused $id 200000 bytes, over the staging limit"
file 4 && { frame "$id" 10 && head -c 4 "$t/m"; } | deliver
check "a file cut off is not taken" contains "$t/out" "bad $id"
file 5 && { frame "north.east17000000025.$(sha256sum <"$t/m" | cut -c1-32)" 10 && cat "$t/m"; } | deliver
check "nor another site's file" contains "$t/out" "sent with the key of south under the orv id north"
check "only the whole files of south are in inbox" [ "$(ls "$b/html/inbox" | tr '\n' ' ')" = "east1700000021 east1700000022 " ]
check "staging holds nothing" [ -z "$(ls -A "$b/html/.inbox-staging")" ]
file 1 && { frame "$id" 10 && cat "$t/m" && frame "../../etc/x" 1; } | deliver
check "by $receiver" contains "$t/err" "$receiver: the delivery holds no header"
south_ssh="ssh -F /dev/null -p ${sshd_ports[compiled]} -i $t/south_key -o IdentitiesOnly=yes -o BatchMode=yes"
south_ssh="$south_ssh -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
done
rm -f "$b/html/orv_staging_limits" "$b/html/inbox"/*

# --- 5. Sessions kept open by orvsite watch ---------------------------------
# While north's watch runs, one session to east, opened when the watch
# starts, carries delivery after delivery; a session that ended is
# replaced, and the watch's end ends it.
echo "command=\"$b/html/orv_ssh_serve.sh $a $b $c\",restrict $(cat "$t/client_key.pub")" >>"$t/compiled.authorized_keys"
echo "[127.0.0.1]:${sshd_ports[compiled]} $(cut -d' ' -f1,2 "$t/compiled.host_key.pub")" >>"$a/html/ssh/known_hosts"
cp "$a/html/orv_hosts" "$t/north_hosts"
echo "east $(id -un)@127.0.0.1:${sshd_ports[compiled]} $b" >"$a/html/orv_hosts"
rm -f "$a/html/outbox"/* "$b/html/inbox"/*
"$bin/orvsite" watch --retry 5 "$a" >"$t/watch.out" 2>"$t/watch.err" &
watcher=$!
receivers() { pgrep -f "orvsite deliver --batches $b/html" | tr '\n' ' '; }
# arrives N: waits until east's inbox holds N files (30 s at most: the
# sanitizer builds run slowly beside other tests).
arrives() {
  for _ in $(seq 300); do
    [ "$(count "$b/html/inbox")" -eq "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
opened() {
  for _ in $(seq 300); do
    [ -n "$(receivers)" ] && return 0
    sleep 0.1
  done
  return 1
}
check "the watch opens its session to east when it starts" opened
first=$(receivers)
echo "message 1" >"$a/html/outbox/east17000000301"
check "the first file arrives" arrives 1
check "through that session" [ "$(receivers)" = "$first" ]
echo "message 2" >"$a/html/outbox/east17000000302"
echo "message 3" >"$a/html/outbox/east17000000303"
check "the next files arrive" arrives 3
check "through the same session" [ "$(receivers)" = "$first" ]
check "and leave north's outbox" [ "$(count "$a/html/outbox")" -eq 0 ]
check "the watch reports the sends" contains "$t/watch.err" "sent east17000000302 to east (inbox/east17000000302)"
kill $first
echo "message 4" >"$a/html/outbox/east17000000304"
check "a file after the session ended arrives" arrives 4
check "once" [ "$(ls "$b/html/inbox" | tr '\n' ' ')" = "east17000000301 east17000000302 east17000000303 east17000000304 " ]
kill "$watcher"
wait "$watcher" 2>/dev/null
for _ in $(seq 200); do [ -z "$(receivers)" ] && break; sleep 0.1; done
check "the watch's end ends the session" [ -z "$(receivers)" ]
cp "$t/north_hosts" "$a/html/orv_hosts"
stop_sshd compiled
rm -f "$b/html/inbox"/*

finish
