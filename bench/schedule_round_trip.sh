#!/usr/bin/env bash
# Round trip of a query between two sites whose exchanges run on a
# one-minute schedule, as the cron lines `orvsite new` prints run them:
# each site's exchange starts every minute at the site's own second (the
# `sleep` of its line). North and east are laid out by `orvsite new` in one
# root (the local transfer scripts); a query is written at north at a random
# moment, and the time runs until its answer is in north's store.
#
#   bench/schedule_round_trip.sh BIN_DIR [QUERIES] [NORTH_SECOND EAST_SECOND]
#
# Without seconds the two of the sites' cron lines are used (spread over the
# minute); `0 0` gives sites that fire in step, as plain `* * * * *` lines
# on machines whose clocks agree do. It takes one to three minutes a query.
set -uo pipefail

bin=$(cd "$1" && pwd)
queries=${2:-5}
t=$(mktemp -d /tmp/orv-schedule-bench.XXXXXX)
loops=()
cleanup() {
  for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$t"
}
trap cleanup EXIT
die() { echo "schedule_round_trip.sh: $*" >&2; exit 1; }

declare -A second
for site in north east; do
  "$bin/orvsite" new "$t/$site" --server-id "srv-$site" --orv-id "$site" >"$t/new.out" ||
    die "orvsite new $site"
  second[$site]=$(sed -n 's/.* www-data sleep \([0-9]*\);.*/\1/p' "$t/new.out")
done
[ $# -ge 4 ] && second[north]=$3 && second[east]=$4

# What cron does for a line `* * * * * sleep S; orvsite exchange DIR`: at
# the start of every minute, wait S seconds, then run the exchange.
schedule() { # SITE
  while :; do
    now=$(date +%s.%N)
    next=$(awk -v n="$now" -v s="${second[$1]}" 'BEGIN { m = int(n / 60) * 60 + s; if (m <= n) m += 60; printf "%.3f", m - n }')
    sleep "$next"
    "$bin/orvsite" exchange "$t/$1" >>"$t/$1.out" 2>>"$t/$1.err"
  done
}
for site in north east; do
  schedule "$site" &
  loops+=($!)
done

orv() {
  (cd "$t/$1" && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="$2" ./orv.cgi) >"$t/page" 2>>"$t/orv.err" ||
    die "orv.cgi in $1 on $2"
}
create() { # SITE DOC I_AM TYPE
  orv "$1" "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=$2&i_am=$3%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=$4&sym_name=$2"
}
answers() { # the query vantles of north that hold an answer
  local n
  n=$(grep -c '^info_link: 1$' "$t/north/html/file.ic" 2>/dev/null)
  echo "${n:-0}"
}

create east doc-lens optics Archives
times=()
for i in $(seq "$queries"); do
  sleep "$((RANDOM % 60))"
  before=$(answers)
  start=$(date +%s.%N)
  create north "q-$i" mechanics Info_Gathering
  while [ "$(answers)" -le "$before" ]; do
    sleep 0.2
    awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { exit !(b - a > 400) }' && die "query $i: no answer in 400 s"
  done
  times+=("$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')")
done
printf '%s\n' "${times[@]}" | sort -g | awk -v n="${second[north]}" -v e="${second[east]}" -v q="$queries" '
  { v[NR] = $1; all = all " " $1 }
  END {
    med = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "one-minute schedule, north at second %d, east at second %d, %d queries: median %.1f s, min %.1f s, max %.1f s (each:%s s)\n", n, e, q, med, v[1], v[NR], all
  }'
