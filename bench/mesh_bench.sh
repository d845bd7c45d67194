#!/usr/bin/env bash
# A mesh of SITES sites on this machine, each on a "machine" of its own: an
# sshd per site on a free 127.0.0.1 port with its own host key and its own
# authorized_keys file, the mesh laid out by `orvsite mesh add` from one
# roster (host keys pinned, lines installed with an operator key), and
# `orvsite watch` at every site (exchange on arrival). Every site holds one
# document vantle; HOMES sites send QUERIES queries each, all at once (one
# after the other per site), and each query's round trip runs from the
# request that writes it until every other site's answer is in the home
# site's store. Three runs: the mesh as it is, the same while a peer floods
# a home site with files, and the same with one site down (its sshd and its
# watch stopped: every other answer must still come).
#
#   bench/mesh_bench.sh BIN_DIR SAMPLES_DIR [SITES] [HOMES] [QUERIES] [FLOOD]
#
# SITES 5, HOMES 3, QUERIES 3, FLOOD 300 files by default. Printed per run:
# median, 90th percentile and maximum round trip, the answers lost (not in
# within 60 s) and doubled (a site's answer twice in one query's results).
set -uo pipefail

bin=$(cd "$1" && pwd)
samples=$(cd "$2" && pwd)
sites=${3:-5}
homes=${4:-3}
queries=${5:-3}
flood=${6:-300}
wait_limit=60
. "$(dirname "${BASH_SOURCE[0]}")/../tests/cli/lib.sh"
[ -z "${KEEP_BENCH_DIR:-}" ] || KEEP_TEST_DIRS=1
test_dir orv-mesh-bench
declare -A watch_pid
made_users=()
# Before the servers stop and the directory goes (tests/cli/lib.sh).
bench_cleanup() {
  for pid in "${watch_pid[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  # An account's last processes (an ssh connection kept open for a few
  # seconds after a send) would keep userdel from removing it.
  for u in "${made_users[@]}"; do pkill -u "$u" 2>/dev/null; done
  [ ${#made_users[@]} -eq 0 ] || sleep 1
  for u in "${made_users[@]}"; do
    pkill -KILL -u "$u" 2>/dev/null
    userdel "$u" 2>/dev/null || echo "mesh_bench.sh: could not remove the account $u" >&2
  done
}
on_exit bench_cleanup
die() { echo "mesh_bench.sh: $*" >&2; exit 1; }
[ "$homes" -le "$sites" ] || die "HOMES ($homes) exceeds SITES ($sites)"
names=()
for i in $(seq "$sites"); do names+=("$(printf 's%02d' "$i")"); done

# Each site is its own account, as on machines of their own: made for the
# run when the script runs as root (orvbNN, login shell /bin/sh, home in
# the run's directory, removed at the end), else every site is the user
# who runs it. An account of its own also keeps a peer's logins free of
# what the invoking user's shell start-up files do: sshd runs the forced
# command through the login shell, and bash reads ~/.bashrc for it.
declare -A owner
chmod 0755 "$t"
as_site() { # SITE COMMAND...: runs COMMAND as the site's account
  local s=$1
  shift
  if [ "${owner[$s]}" = "$(id -un)" ]; then
    "$@"
  else
    setpriv --reuid="${owner[$s]}" --regid="${owner[$s]}" --init-groups \
      env HOME="$t/home/$s" USER="${owner[$s]}" LOGNAME="${owner[$s]}" PATH=/usr/bin:/bin "$@"
  fi
}
for s in "${names[@]}"; do
  owner[$s]=$(id -un)
  if [ "$(id -u)" -eq 0 ] && [ -z "${MESH_BENCH_ONE_USER:-}" ]; then
    u=orvb${s#s}
    userdel "$u" 2>/dev/null
    mkdir -p "$t/home/$s"
    # '*' rather than a locked password: sshd without PAM refuses a
    # locked account even for a key.
    useradd --no-create-home --home-dir "$t/home/$s" --shell /bin/sh --password '*' "$u" ||
      die "cannot make the account $u"
    made_users+=("$u")
    chown "$u:" "$t/home/$s"
    owner[$s]=$u
  fi
done

# --- the machines and the sites ------------------------------------------------
ssh-keygen -q -t ed25519 -N '' -f "$t/operator_key"
{
  echo "$sites"
  for i in "${!names[@]}"; do echo "$i ${names[$i]}"; done
  for i in "${!names[@]}"; do
    row=""
    for j in "${!names[@]}"; do row+="$([ "$i" -eq "$j" ] && echo 0 || echo 1) "; done
    echo "$row"
  done
} >"$t/site.config"
# Many peers log in at once to a site's sshd. Its sessions find orvsite on
# their PATH, as where the package is installed, so the forced command
# receives with `orvsite deliver`.
SSHD_EXTRA="MaxStartups 100:30:200
SetEnv PATH=$bin:/usr/bin:/bin"
echo "# site orv-id host port user site-dir host-key" >"$t/roster"
for s in "${names[@]}"; do
  cp "$t/operator_key.pub" "$t/$s.authorized_keys"
  sshd_prepare "$s"
  start_sshd "$s"
  p=${sshd_ports[$s]}
  dir=$t/$s/site
  mkdir -p "$t/$s"
  "$bin/orvsite" new "$dir" --server-id "srv-$s" --orv-id "$s" --site-config "$t/site.config" \
    >/dev/null || die "orvsite new $dir"
  # Every other site answers, and the queries of the other home sites match
  # as well: a vantle collects up to 99 results, more than a run brings.
  printf 'server id: srv-%s\norv id: %s\nretrieval threshold: 1\nvirtual site distance threshold: 9\nmax. vantle# threshold: 99\nemail address: NULL\n' \
    "$s" "$s" >"$dir/html/config.txt"
  install -m 0755 "$samples"/ssh/* "$dir/html/"
  chown -R "${owner[$s]}:" "$t/$s" "$t/$s.authorized_keys"
  echo "$s-site $s 127.0.0.1 $p ${owner[$s]} $dir $(ssh-keygen -lf "$t/$s.host_key.pub" | awk '{ print $2 }')" >>"$t/roster"
done
setup_start=$(date +%s.%N)
for s in "${names[@]}"; do
  "$bin/orvsite" mesh add "$t/$s/site" "$t/roster" --install-key "$t/operator_key" \
    --authorized-keys "$t/%o.authorized_keys" >"$t/mesh.out" 2>&1 || die "mesh add at $s: $(cat "$t/mesh.out")"
done
"$bin/orvsite" mesh check "$t/${names[0]}/site" "$t/roster" >"$t/mesh.out" 2>&1 ||
  die "mesh check: $(cat "$t/mesh.out")"
# What mesh add wrote as this user belongs to each site's account.
for s in "${names[@]}"; do chown -R "${owner[$s]}:" "$t/$s" "$t/$s.authorized_keys"; done
setup_end=$(date +%s.%N)

orv() { # SITE QUERY: one request, its answer in values in $t/answer.SITE
  (cd "$t/$1/site" && as_site "$1" env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET \
    HTTP_ACCEPT=application/json QUERY_STRING="$2" ./orv.cgi) >"$t/answer.$1" 2>>"$t/orv.err"
}
create() { # SITE DOC I_AM TYPE NAME
  orv "$1" "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=$2&i_am=$3%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=$4&sym_name=$5"
}
for s in "${names[@]}"; do
  create "$s" "doc-$s" optics Archives "lens-$s" || die "document at $s"
done
# Anything the documents sent is delivered before the runs start.
for s in "${names[@]}"; do
  as_site "$s" "$bin/orvsite" watch "$t/$s/site" >>"$t/watch.$s.out" 2>>"$t/watch.$s.err" &
  watch_pid[$s]=$!
done
sleep 2
# Each watch opens its delivery sessions to its peers when it starts; the
# runs begin once they are open (or after two minutes), so that the first
# run measures queries, not the start of twenty watches.
if [ "${ORV_SSH_SESSIONS:-}" != 0 ]; then
  opening=$EPOCHREALTIME
  wanted=$((sites * (sites - 1)))
  for _ in $(seq 240); do
    open=$(pgrep -fc "orvsite deliver --batches") || true
    [ "$open" -ge "$wanted" ] && break
    sleep 0.5
  done
  awk -v a="$opening" -v b="$EPOCHREALTIME" -v o="$open" -v w="$wanted" \
    'BEGIN { printf "delivery sessions opened by the watches at their start: %d of %d in %.1f s\n", o, w, b - a }' >"$t/opening"
fi

now() { echo "$EPOCHREALTIME"; }
# One home site's queries, one after the other: a line per query with its
# round trip, the answers expected, in, doubled. The home site's store is
# looked at four times a second, and read (a request) only when it has
# changed since: the answers land in it, and the measuring must take as
# little as it can of the cores the mesh runs on (no process while nothing
# changed: the wait is bash's own `read -t`, the test of the store's time
# a builtin).
asker() { # SITE RUN EXPECTED...
  local s=$1 run=$2 i id start end got doubled idle
  local store=$t/$s/site/html/file.ic seen=$t/seen.$s
  shift 2
  exec {idle}<> <(:)
  for i in $(seq "$queries"); do
    start=$(now)
    create "$s" "q-$run-$s-$i" mechanics Info_Gathering "ask-$run-$i" || { echo "fail"; continue; }
    id=$(grep -o '"created":\[{"ic_id":[0-9]*' "$t/answer.$s" | grep -o '[0-9]*$')
    [ -n "$id" ] || { echo "fail"; continue; }
    got=0 doubled=0
    : >"$seen"
    for _ in $(seq $((wait_limit * 4))); do
      read -r -t 0.25 -u "$idle"
      # (Not older: a store written in the tick of the mark is read again.)
      [ "$store" -ot "$seen" ] && continue
      : >"$seen"
      orv "$s" "flag=old&ic_type=VANTLE&ic_id_list=$id&message_type=MSG_SHOW_VANTLE_RESULT" || continue
      # The results in values: a site has answered once its document is
      # among them (with the site that sent it); a document twice is an
      # answer taken twice.
      # One grep and one awk a poll: the polls run four times a second at
      # every home, on the cores the mesh runs on.
      read -r got doubled < <(grep -o '"doc_id":"[^"]*","site":"[^"]*"' "$t/answer.$s" |
        awk -v want=" $* " '{ n[$0]++ }
          END {
            got = 0; doubled = 0
            for (k in n) {
              if (n[k] > 1) doubled++
              split(k, f, "\""); if (f[4] == "doc-" f[8] && index(want, " " f[8] " ")) got++
            }
            print got, doubled
          }')
      [ "$got" -eq "$#" ] && break
    done
    end=$(now)
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') $# $got $doubled"
  done
}
stats() { # RUN LABEL: the figures of one run from $t/run.RUN.*
  cat "$t"/run."$1".* >"$t/all.$1"
  sort -g "$t/all.$1" | awk -v label="$2" '{ v[NR] = $1; want += $2; got += $3; dup += $4 }
    END {
      if (NR == 0) { print label ": no queries"; exit }
      p90 = v[int(0.9 * NR + 0.999)]; if (p90 == "") p90 = v[NR]
      med = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%-28s %3d queries: median %5.2f s, p90 %5.2f s, max %5.2f s; answers %d of %d, lost %d, doubled %d\n",
        label, NR, med, p90, v[NR], got, want, want - got, dup
    }'
}
# The processor time the machine spent, in seconds, not counting niced
# processes (whatever runs beside the benchmark at a low priority).
busy() { awk '$1 == "cpu" { printf "%.2f", ($2 + $4 + $7 + $8 + $9) / 100 }' /proc/stat; }
# The processor time of the sites' exchanges, in seconds: the watches (whose
# requests run in their own process) and the scripts they ran, with what
# those ran and waited for.
exchanges() {
  local p
  # (By their command: a watch runs under setpriv, whose pid the script has.)
  for p in $(pgrep -f "orvsite watch $t/"); do cat "/proc/$p/stat" 2>/dev/null; done |
    awk '{ sub(/.*\) /, ""); t += $12 + $13 + $14 + $15 } END { printf "%.2f", t / 100 }'
}
run() { # RUN LABEL DOWN_SITE: every home asks at once
  local r=$1 label=$2 down=${3:-} s e expected pids=() cpu_start wall_start ex_start
  cpu_start=$(busy)
  ex_start=$(exchanges)
  wall_start=$(now)
  for s in "${names[@]:0:$homes}"; do
    expected=()
    for e in "${names[@]}"; do [ "$e" != "$s" ] && [ "$e" != "$down" ] && expected+=("$e"); done
    asker "$s" "$r" "${expected[@]}" >"$t/run.$r.$s" &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p"; done
  stats "$r" "$label"
  awk -v c0="$cpu_start" -v c1="$(busy)" -v w0="$wall_start" -v w1="$(now)" -v n="$(nproc)" \
    -v e0="$ex_start" -v e1="$(exchanges)" \
    'BEGIN { printf "%-28s processor time %.1f s in %.1f s (%.0f %% of %d cores), %.1f s of it in the exchanges\n", "", c1 - c0, w1 - w0, 100 * (c1 - c0) / (w1 - w0) / n, n, e1 - e0 }'
  [ -n "${BENCH_VERBOSE:-}" ] && cat "$t"/run."$r".* >&2
}

echo "mesh of $sites sites over SSH on 127.0.0.1 (one sshd each), orvsite watch at each;"
echo "$homes home sites ask $queries queries each, all at once; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v a="$setup_start" -v b="$setup_end" -v n="$sites" \
  'BEGIN { printf "mesh laid out from the roster (mesh add at %d sites, mesh check): %.1f s\n", n, b - a }'
[ ! -e "$t/opening" ] || cat "$t/opening"
run plain "as it is"

# A peer floods the first home site: FLOOD files that hold no message, sent
# by the last site's watch over SSH while the queries run.
victim=${names[0]}
flooder=${names[$((sites - 1))]}
(
  for k in $(seq "$flood"); do
    printf 'not a message %d\n' "$k" >"$t/$flooder/site/html/outbox/.f$k"
    chown "${owner[$flooder]}:" "$t/$flooder/site/html/outbox/.f$k"
    mv "$t/$flooder/site/html/outbox/.f$k" "$t/$flooder/site/html/outbox/${victim}$((1700000000 + k))"
  done
) &
flood_pid=$!
run flood "while $flooder floods $victim"
wait "$flood_pid"

down=${names[$((sites - 1))]}
kill "${watch_pid[$down]}" 2>/dev/null
wait "${watch_pid[$down]}" 2>/dev/null
unset "watch_pid[$down]"
stop_sshd "$down"
run down "with $down down" "$down"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
rejected=$(find "$t/$victim/site/html/inbox/rejected" -type f 2>/dev/null | wc -l)
echo "flood: $rejected of $flood files set aside at $victim"
