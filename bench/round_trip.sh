#!/usr/bin/env bash
# Round trip of a query between two sites linked over SSH on this machine:
# north and east, each in a root of its own, reach each other only through
# an SSH server started here on 127.0.0.1 (a free port, a temporary
# configuration, the peers added with `orvsite peer add`, the keys limited
# to delivering by their forced command). The time measured runs from the
# start of the request that writes the query at north to the moment the
# answers are in north's store (north's pick-up of them has saved).
#
#   bench/round_trip.sh BIN_DIR SAMPLES_DIR [QUERIES]
#
# 1. watch: `orvsite watch` runs for both sites; QUERIES (5) queries, one
#    after the other; the median and every time are printed.
# 2. timer: the one-minute timer of the systemd units, computed rather than
#    waited for: the durations of the three exchanges a round trip needs
#    (north sends; east picks up, answers and sends; north picks up) are
#    measured once by running them back to back, and a simulated schedule
#    (each site's timer fires every 60 s at a phase of its own, drawn at
#    random, as is the moment of the query; 10,000 draws) gives the median
#    and the 90th percentile.
set -uo pipefail

bin=$(cd "$1" && pwd)
samples=$(cd "$2" && pwd)
queries=${3:-5}
. "$(dirname "${BASH_SOURCE[0]}")/../tests/cli/lib.sh"
test_dir orv-bench
watchers=()
stop_watchers() {
  for pid in "${watchers[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
}
on_exit stop_watchers
die() { echo "round_trip.sh: $*" >&2; exit 1; }

sshd_prepare
start_sshd

a=$t/machine-a/north
b=$t/machine-b/east
for s in "$a" "$b"; do
  name=${s##*/}
  mkdir -p "${s%/*}"
  "$bin/orvsite" new "$s" --server-id "srv-$name" --orv-id "$name" >/dev/null || die "orvsite new $s"
  cp "$samples/$name/config.txt" "$s/html/"
  install -m 0755 "$samples"/ssh/* "$s/html/"
done
user=$(id -un)
"$bin/orvsite" peer add "$a" east 127.0.0.1 --port "$port" --user "$user" --site-dir "$b" --yes \
  >"$t/out" 2>&1 || die "peer add: $(cat "$t/out")"
tail -n 1 "$t/out" >>"$t/authorized_keys"
"$bin/orvsite" peer add "$b" north 127.0.0.1 --port "$port" --user "$user" --site-dir "$a" --yes \
  >"$t/out" 2>&1 || die "peer add: $(cat "$t/out")"
tail -n 1 "$t/out" >>"$t/authorized_keys"

orv() {
  (cd "$1" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$2" ./orv.cgi) >"$t/page" 2>>"$t/orv.err" ||
    die "orv.cgi in $1 on $2"
}
create() { # SITE DOC I_AM TYPE NAME
  orv "$1" "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=$2&i_am=$3%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=$4&sym_name=$5"
}
backups() { find "$1/html/BACKUP" -maxdepth 1 -type f -name 'file.ic.b*' 2>/dev/null | wc -l; }
now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

create "$b" doc-lens optics Archives lens

# --- 2. measured exchanges, for the timer's schedule ------------------------
t0=$(now)
create "$a" q-timer mechanics Info_Gathering ask-timer
t1=$(now)
"$bin/orvsite" exchange "$a" >/dev/null 2>&1 || die "exchange at north"
t2=$(now)
"$bin/orvsite" exchange "$b" >/dev/null 2>&1 || die "exchange at east"
t3=$(now)
before=$(backups "$a")
"$bin/orvsite" exchange "$a" >/dev/null 2>&1 || die "exchange at north"
t4=$(now)
[ "$(backups "$a")" -gt "$before" ] || die "the answer did not come back by hand"
read -r d_req d_send d_east d_pick < <(awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" -v e="$t4" \
  'BEGIN { printf "%.3f %.3f %.3f %.3f\n", b - a, c - b, d - c, e - d }')

# --- 1. watch ------------------------------------------------------------------
for s in "$a" "$b"; do
  "$bin/orvsite" watch "$s" >>"$t/watch.out" 2>>"$t/watch.err" &
  watchers+=($!)
done
sleep 1
times=()
for i in $(seq "$queries"); do
  before=$(backups "$a")
  start=$(now)
  create "$a" "q-$i" mechanics Info_Gathering "ask-$i"
  saved=$((before + 1)) # the query's own request saves once
  for _ in $(seq 600); do
    [ "$(backups "$a")" -gt "$saved" ] && break
    sleep 0.05 # coarse: a tight loop of find would slow the sites it watches
  done
  end=$(now)
  [ "$(backups "$a")" -gt "$saved" ] || die "query $i: no answer within 30 s; $(cat "$t/watch.err")"
  times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')")
  sleep 0.5
done
orv "$a" "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_VANTLE_RESULT"
grep -q "Doc id: doc-lens" "$t/page" || die "north does not show east's answer"

echo "round trip of a query, north -> east -> north over SSH on 127.0.0.1"
echo "watch (orvsite watch at both sites), $queries queries: median $(printf '%s\n' "${times[@]}" | median) s (each: ${times[*]} s)"
echo "exchanges by hand, back to back: request $d_req s, north sends $d_send s, east picks up and answers $d_east s, north picks up $d_pick s"
awk -v req="$d_req" -v s="$d_send" -v e="$d_east" -v p="$d_pick" 'BEGIN {
  srand(1)
  for (i = 0; i < 10000; i++) {
    pn = 60 * rand(); pe = 60 * rand(); q = 60 * rand()
    # each tick is the first one of its timer at or after the moment given
    x = q + req; tn = pn + 60 * int((x - pn) / 60 + 1); if (tn - 60 >= x) tn -= 60
    x = tn + s;  te = pe + 60 * int((x - pe) / 60 + 1); if (te - 60 >= x) te -= 60
    x = te + e;  tb = pn + 60 * int((x - pn) / 60 + 1); if (tb - 60 >= x) tb -= 60
    printf "%.3f\n", tb + p - q
  }
}' | sort -g | awk '{ v[NR] = $1 } END {
  printf "one-minute timer (simulated schedule, %d draws): median %.1f s, 90th percentile %.1f s\n", NR, v[int(NR / 2)], v[int(NR * 0.9)]
}'
