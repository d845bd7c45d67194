#!/usr/bin/env bash
# Black-box test of `orvsite watch`: two sites on this machine (the local
# transfer scripts), each watched by its own `orvsite watch`. A query from
# north reaches east and its answer comes back with no exchange run by
# hand; an idle site picks up nothing (no save, no backup copy).
#   watch_test.sh BIN_DIR SAMPLES_DIR
set -uo pipefail

bin=$(cd "$1" && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-watch-test
pids=()
stop_watchers() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
}
on_exit stop_watchers
backups() { find "$1/html/BACKUP" -maxdepth 1 -type f -name 'file.ic.b*' 2>/dev/null | wc -l; }

"$bin/orvsite" new "$t/north" --server-id srv1 --orv-id north >/dev/null || exit 1
"$bin/orvsite" new "$t/east" --server-id srv2 --orv-id east >/dev/null || exit 1
a=$t/north
b=$t/east
cp "$2/north/config.txt" "$a/html/"
cp "$2/east/config.txt" "$b/html/"

orv() {
  (cd "$1" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$2" ./orv.cgi) >"$t/page" 2>>"$t/orv.err" ||
    fail "orv.cgi in $1 on $2"
}
create() { # SITE DOC I_AM TYPE NAME
  orv "$1" "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=$2&i_am=$3%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=$4&sym_name=$5"
}
# until SECONDS COMMAND...: waits for the command to succeed (the watchers
# work on their own; this is no measure of their speed).
until_true() {
  local n=$(($1 * 10))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}

create "$b" doc-lens optics Archives lens
# Idle: an exchange with nothing in inbox picks nothing up and files no copy.
before=$(backups "$b")
check "an idle exchange succeeds" "$bin/orvsite" exchange "$b"
check "an idle exchange files no backup copy" [ "$(backups "$b")" -eq "$before" ]

for site in "$a" "$b"; do
  "$bin/orvsite" watch --retry 5 "$site" >>"$t/watch.out" 2>>"$t/watch.err" &
  pids+=($!)
done
sleep 1 # the watchers' first rounds, with nothing to do
check "idle watchers file no backup copy" [ "$(backups "$b")" -eq "$before" ]
north_before=$(backups "$a")

# A file dropped into east's inbox (the query north writes and sends) is
# picked up, and the answer comes back to north.
create "$a" q-1 mechanics Info_Gathering ask
query_saved=$(backups "$a")
picked_up_at_north() { [ "$(backups "$a")" -gt "$query_saved" ]; }
check "the answer comes back to north and is picked up" until_true 30 picked_up_at_north
orv "$a" "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_VANTLE_RESULT"
sleep 1 # let the watchers settle
check "north shows east's answer" grep -q "Doc id: doc-lens" "$t/page"
check "every box is empty" [ "$(count "$a/html/outbox")$(count "$b/html/inbox")$(count "$b/html/outbox")$(count "$a/html/inbox")" = 0000 ]
check "east picked up once (one backup copy more)" [ "$(backups "$b")" -eq $((before + 1)) ]
check "north picked up once (one copy for the pick-up, one for showing the result)" [ "$(backups "$a")" -eq $((query_saved + 2)) ]
check "the watchers report what moved" grep -q "picked up 1 message" "$t/watch.out"
check "north's request saved once" [ "$query_saved" -eq $((north_before + 1)) ]
check "the watchers are still running" kill -0 "${pids[@]}"

# East's inbox replaced each way an operator or a restore does it: the
# watcher follows, says so, and the next query from north is answered.
"$bin/orvsite" backup "$b" "$t/east.tar.gz" >/dev/null 2>&1 || fail "east's backup"
n=1
for way in "rm -rf inbox; mkdir inbox" "mv inbox inbox.old; mkdir inbox" \
  "mv ../html ../html.away; mv ../html.away ../html" "restore"; do
  if [ "$way" = restore ]; then
    "$bin/orvsite" restore "$b" "$t/east.tar.gz" >/dev/null 2>&1 || fail "east's restore"
  else
    (cd "$b/html" && eval "$way") || fail "$way"
  fi
  sleep 1 # let the watchers settle
  n=$((n + 1))
  create "$a" "q-$n" mechanics Info_Gathering "ask$n"
  query_saved=$(backups "$a")
  check "after $way, a new query is answered" until_true 30 picked_up_at_north
  check "after $way, east's watcher says it follows" \
    grep -q "html/inbox or html/outbox was replaced, moved or removed; watching the new ones" \
    "$b/html/log/exchange.log"
  rm -rf "$b/html/inbox.old"
done
check "the watchers are still running after all that" kill -0 "${pids[@]}"

# A site whose directory goes away cannot be watched: the watcher ends with
# status 1 and the reason, for its service to start it again.
"$bin/orvsite" new "$t/west" --server-id srv3 --orv-id west >/dev/null || exit 1
"$bin/orvsite" watch --retry 5 "$t/west" >"$t/west.out" 2>"$t/west.err" &
west=$!
sleep 1
mv "$t/west" "$t/west.gone"
west_ended() { ! kill -0 "$west" 2>/dev/null; }
if until_true 30 west_ended; then
  wait "$west"
  check "the watch of a site gone ends with status 1" [ $? -eq 1 ]
else
  fail "the watch of a site gone ends"
  kill "$west"
fi
check "and says why" contains "$t/west.err" "cannot watch $t/west: the site directory is gone"

if [ "$failures" -ne 0 ]; then
  echo "--- watch output:" >&2; cat "$t/watch.out" "$t/watch.err" >&2
fi
finish
