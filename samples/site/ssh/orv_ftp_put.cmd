#!/bin/sh
# orv_ftp_put.cmd (SSH): delivers the message files of `outbox` to sites on
# other machines, over ssh with rsync. orv runs it in its `html` directory
# (SYS_SEND_MSG) when `outbox` holds at least one file.
#
# Where the peers live: the host map `orv_hosts` in `html`, one line per
# peer site (blank lines and text after `#` are ignored):
#
#   # orv id   [user@]host[:port]       site directory    [key]
#   east       orv@east.example.org     /srv/orv/east
#   south      orv@192.0.2.7:2222       /srv/orv/south    ssh/south_key
#
# The site directory is the one that holds the peer's programs and its
# `html`. The key (a private key file; relative names are taken in `html`)
# defaults to `ssh/id_ed25519`; the peer's host key must be in
# `ssh/known_hosts` (ssh runs in batch mode with strict host key checking,
# so it never asks anything and never learns a key by itself).
#
# A message file is named after the orv id of its target, followed by the
# second it was written in and a sequence number; the target is the peer of
# the map whose id begins the name (letter case does not matter, the
# longest id wins). Per peer, one ssh session `orv-deliver SITE/html`
# carries the peer's files, each under a transfer id `SENDER.NAME.HASH`
# (this site's orv id, the file name, the first 32 hex digits of the
# content's SHA-256) and its size; the peer's forced command
# (orv_ssh_serve.sh) has its own orv_ssh_link.sh stage them within its
# limits and link each into its inbox under a free name, exactly once, and
# confirm it. An outbox file is removed only once its peer has confirmed
# it; a failed or cut transfer leaves it for the next send, and the peer
# knows the transfer id of a file it has already linked in, so the repeat
# delivers nothing twice.
#
# The connection to a peer stays open ORV_SSH_PERSIST seconds (300 when it
# is not set; 0 closes it after each send) after its last send, its socket
# in ssh/control: a send while it is open is one session on it, without a
# new login.
#
# A peer whose scripts are older refuses orv-deliver; its files then go as
# earlier versions sent them: one rsync copies them whole into its staging
# directory `html/.inbox-staging`, and one ssh runs the link-in `sh -s --
# SITE/html IDS` (its forced command runs its own orv_ssh_link.sh, not the
# copy sent on standard input, which only a login without a forced command
# would run). ORV_RSYNC_OPTIONS in the environment sends every file that
# way, with these options added to rsync (for example --bwlimit=500 on a
# slow line).
#
# The peers are served ORV_SEND_PARALLEL at a time (8 when it is not set).
#
# A scheduled exchange (orvsite exchange, orvsite watch) names its own
# program in ORVSITE: then, unless ORV_RSYNC_OPTIONS is set, this script
# hands its work to `$ORVSITE send HTML`, which sends in one process, with
# one ssh per peer, exactly as the code below does (the same work
# directory, ssh command lines, answers and reports), where the code below
# starts some twenty helper processes per send. Run by hand or by the web
# server, without ORVSITE, the code below sends.
#
# Everything it reports goes to standard error (the web server's log):
# each file sent, a peer that is missing from the map or cannot be reached
# (with the last lines ssh and rsync wrote, which tell why), and every file
# that stays in outbox. It exits 1 when a file stays.

set -u
if [ -z "${ORV_RSYNC_OPTIONS:-}" ] && [ -n "${ORVSITE:-}" ] && [ -f "$ORVSITE" ] && [ -x "$ORVSITE" ]; then
  exec "$ORVSITE" send "$PWD"
fi
me=orv_ftp_put.cmd
html=$(pwd)
map=$html/orv_hosts
say() { echo "$me: $*" >&2; }

# The lines of the map without comments and blank lines.
map_lines() { sed -e 's/\r$//' -e 's/#.*$//' "$map" | awk 'NF > 0'; }

# For each name of the file `names` (one a line): the name, the map's id of
# the peer the file is for ("-" when none) and the first 32 hex digits of
# its content's SHA-256 ("-" when it could not be read), from one awk run
# and one sha256sum for all files, so that a send to many peers does not
# start processes per file and map line.
peers_of() {
  if [ "$listed" -le 200 ]; then
    # shellcheck disable=SC2086 # names of letters, digits and _ . -
    (cd "$html/outbox" && exec sha256sum -- $list) >"$1.hashes" 2>/dev/null
  else
    (cd "$html/outbox" && xargs sha256sum -- <"$1") >"$1.hashes" 2>/dev/null
  fi
  printf '%s\n' "$lines" | awk -v names="$1" -v hashes="$1.hashes" '
    { ids[NR] = $1 }
    END {
      while ((getline line < hashes) > 0) hash[substr(line, 67)] = substr(line, 1, 32)
      while ((getline name < names) > 0) {
        lname = tolower(name); best = "-"; bestlen = 0
        for (i = 1; i <= NR; i++) {
          lid = tolower(ids[i])
          if (length(lid) <= bestlen || substr(lname, 1, length(lid)) != lid) continue
          if (substr(lname, length(lid) + 1) !~ /^[0-9]+$/) continue
          best = ids[i]; bestlen = length(lid)
        }
        print name, best, ((name in hash) ? hash[name] : "-")
      }
    }'
}

# self: the orv id of the first "orv id:" line of config.txt on standard
# input (read by the shell itself: this runs for every delivery).
read_orv_id() {
  self=""
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in
      "orv id:"*)
        line=${line%[[:cntrl:]]}
        line=${line#orv id:}
        line=${line#"${line%%[! ]*}"}
        self=${line%% *}
        return
        ;;
    esac
  done
}

if [ ! -f "$map" ]; then
  say "no host map $map: every file stays in outbox"
  exit 1
fi
self=""
{ read_orv_id <config.txt; } 2>/dev/null
lines=$(map_lines)
case $self in
  '' | *[!A-Za-z0-9_-]*)
    say "config.txt holds no plain orv id ('$self'): every file stays in outbox"
    exit 1
    ;;
esac

# The files of each peer are hard links in a directory of this run, named
# by their transfer ids. A run that was killed leaves its directory; the
# next run removes it.
for old in "$html"/.outbox-sending.*; do
  [ -d "$old" ] || continue
  kill -0 "${old##*.}" 2>/dev/null || rm -rf "$old"
done
work=$html/.outbox-sending.$$
# The sockets of the connections that this run does not keep open, made
# when there is one (short paths: a socket path has a limit of about 100
# characters).
control=""
trap 'rm -rf "$work" ${control:+"$control"}' EXIT
batch="" # the peers' sends under way
# shellcheck disable=SC2086
trap 'kill $batch 2>/dev/null; exit 1' HUP INT TERM
mkdir "$work" || exit 1

status=0
: >"$work/.names"
list="" # the same names, as words, while there are few
listed=0
for file in "$html"/outbox/*; do
  [ -f "$file" ] || continue
  name=${file##*/}
  case $name in
    *[!A-Za-z0-9_.-]* | .*)
      say "$name is no message file name: it stays in outbox"
      status=1
      continue
      ;;
  esac
  # A delivery's header holds the transfer id and the size in 255 bytes.
  if [ $((${#self} + ${#name} + 34)) -gt 200 ]; then
    say "$name is too long a name to send: it stays in outbox"
    status=1
    continue
  fi
  echo "$name" >>"$work/.names"
  list="$list $name"
  listed=$((listed + 1))
done
if [ -s "$work/.names" ]; then
  while read -r name peer hash; do
    if [ "$peer" = - ]; then
      say "no site in orv_hosts for $name: it stays in outbox"
      status=1
      continue
    fi
    [ "$hash" != - ] || continue # gone meanwhile: taken by another send
    { [ -d "$work/$peer" ] || mkdir "$work/$peer"; } && ln "$html/outbox/$name" "$work/$peer/$self.$name.$hash" ||
      status=1
  done <<EOF
$(peers_of "$work/.names")
EOF
fi

# What ssh and rsync wrote on standard error for the last step, each line
# as it came (the cause of a failure: "Host key verification failed",
# "Connection refused", "Permission denied (publickey)", ...), up to the last
# 20 lines of at most 300 characters.
errors() {
  tr -d '\r' <"$work/error.$peer" | awk 'NF > 0' | tail -n 20 | cut -c1-300 | sed "s/^/$me:   /" >&2
}

# The files of one peer as one delivery: before each, a header of 256
# bytes (the transfer id and the size, padded with spaces, and a newline).
delivery() {
  cd "$work/$1" || return 1
  stat -c '%s %n' -- * | while read -r size tid; do
    printf '%-255s\n' "$tid $size"
    head -c "$size" -- "$tid"
  done
}

# Connections kept open between sends: ssh/control holds their sockets.
persist=${ORV_SSH_PERSIST:-300}
case $persist in '' | *[!0-9]*) persist=300 ;; esac
keep=""
if [ "$persist" -gt 0 ] && [ -d "$html/ssh" ] && [ -O "$html/ssh" ]; then
  keep=$html/ssh/control
  { [ -d "$keep" ] || mkdir -m 700 "$keep" 2>/dev/null; } && [ ! -L "$keep" ] && [ -O "$keep" ] || keep=""
fi

# The files still waiting for a peer, for the reports.
waiting() { ls "$work/$1" | sed "s/^$self\.\(.*\)\.[0-9a-f]*\$/\1/" | tr '\n' ' '; }

# Sends the files of one peer: id, where, site directory, key.
send_to() {
  peer=$1
  where=$2
  dir=$3
  key=${4:-ssh/id_ed25519}
  host=$where
  port=22
  case $where in *:*)
    port=${where##*:}
    host=${where%:*}
    ;;
  esac
  case $key in /*) ;; *) key=$html/$key ;; esac
  case $port in '' | *[!0-9]*)
    say "orv_hosts: '$where' of $peer has no port number; waiting: $(waiting "$peer")"
    return 1
    ;;
  esac
  case $host$dir$key$html in *[!A-Za-z0-9_.@/+~-]*)
    say "orv_hosts: the line of $peer, or $html, holds a character the scripts do not pass on" \
      "(only letters, digits and _ . @ / + ~ -); waiting: $(waiting "$peer")"
    return 1
    ;;
  esac
  if [ ! -r "$key" ] || [ ! -r "$html/ssh/known_hosts" ]; then
    say "no key $key or no $html/ssh/known_hosts for $peer; waiting: $(waiting "$peer")"
    return 1
  fi
  ssh="ssh -F /dev/null -p $port -i $key -o IdentitiesOnly=yes -o BatchMode=yes"
  ssh="$ssh -o StrictHostKeyChecking=yes -o UserKnownHostsFile=$html/ssh/known_hosts"
  ssh="$ssh -o GlobalKnownHostsFile=/dev/null -o UpdateHostKeys=no -o ConnectTimeout=20"
  ssh="$ssh -o ServerAliveInterval=15 -o ServerAliveCountMax=4 -o LogLevel=ERROR"
  # The sessions of a send share one connection, its ssh in the background
  # as their master: kept open for the next sends (ssh/control), or ended
  # after this one (or by itself 10 seconds after a killed run). Its socket
  # is named after the peer, not the host: two peers on one host and
  # account are sent to at once, each over its own connection. (A socket's
  # path has a limit of about 100 characters, ssh's suffix included.)
  if [ -n "$keep" ] && [ $((${#keep} + ${#peer})) -le 88 ]; then
    ssh="$ssh -o ControlMaster=auto -o ControlPath=$keep/$peer -o ControlPersist=$persist"
    close=""
    # A connection opened before the map, the key or the known host keys
    # last changed is not used: it may lead elsewhere, or by a key or to a
    # host that is no longer trusted.
    if [ -S "$keep/$peer" ]; then
      for f in "$map" "$key" "$html/ssh/known_hosts"; do
        [ "$keep/$peer" -nt "$f" ] || { $ssh -O exit "$host" >/dev/null 2>&1; break; }
      done
    fi
  else
    ssh="$ssh -o ControlMaster=auto -o ControlPath=$control/$peer -o ControlPersist=10"
    close=yes
  fi

  # The delivery in one session, which answers one line per transfer id.
  answer=""
  if [ -z "${ORV_RSYNC_OPTIONS:-}" ]; then
    answer=$(delivery "$peer" | $ssh "$host" "orv-deliver $dir/html" 2>"$work/error.$peer")
    if [ $? -eq 255 ]; then
      say "cannot reach $peer at $where:"
      errors
      say "waiting in outbox for $peer: $(waiting "$peer")"
      return 1
    fi
  fi
  # Or, to a peer that does not know it (its forced command refuses it, or
  # there is none and the login shell has no such command), the copy into
  # the staging directory beside its inbox (rsync writes each file to a
  # hidden name there and renames it when complete) and the link-in.
  if [ -n "${ORV_RSYNC_OPTIONS:-}" ] || { [ -z "$answer" ] && grep -q orv-deliver "$work/error.$peer"; }; then
    # shellcheck disable=SC2086 # ORV_RSYNC_OPTIONS holds several words
    if ! (cd "$work/$peer" && rsync -t --timeout=120 ${ORV_RSYNC_OPTIONS:-} -e "$ssh" -- * "$host:$dir/html/.inbox-staging/") \
      </dev/null >/dev/null 2>"$work/error.$peer"; then
      say "cannot reach $peer at $where:"
      errors
      say "waiting in outbox for $peer: $(waiting "$peer")"
      return 1
    fi
    ids=$(ls "$work/$peer" | tr '\n' ' ')
    answer=$($ssh "$host" "sh -s -- $dir/html $ids" <"$html/orv_ssh_link.sh" 2>"$work/error.$peer")
  fi
  [ -z "$close" ] || $ssh -O exit "$host" >/dev/null 2>&1
  gone="" # what to remove, at once
  while read -r what tid dest; do
    [ -f "$work/$peer/$tid" ] || continue
    name=${tid#"$self".}
    name=${name%.*}
    case $what in
      linked | known)
        # Only the file that was sent: a file written since under the same
        # name is another message.
        if [ "$html/outbox/$name" -ef "$work/$peer/$tid" ]; then
          gone="$gone $html/outbox/$name"
        fi
        gone="$gone $work/$peer/$tid"
        if [ "$what" = linked ]; then say "sent $name to $peer (inbox/$dest)"; fi
        ;;
      *) say "$peer refused $name ($what${dest:+: $dest})" ;;
    esac
  done <<EOF
$answer
EOF
  # (Every path here is of letters, digits and _ . @ / + ~ -.)
  # shellcheck disable=SC2086
  [ -z "$gone" ] || rm -f $gone
  for left in "$work/$peer"/*; do [ -e "$left" ] && break; done
  if [ -e "$left" ]; then
    say "no confirmation from $peer:"
    errors
    say "waiting in outbox for $peer: $(waiting "$peer")"
    return 1
  fi
  return 0
}

# The peers are served ORV_SEND_PARALLEL at a time (8 by default): a query
# goes to every peer, and each peer's logins wait on the network and on
# the peer more than on this machine. Each peer's send runs in a subshell
# of its own (its own variables and error file); a map line of an id
# already served is skipped.
parallel=${ORV_SEND_PARALLEL:-8}
case $parallel in '' | *[!0-9]* | 0) parallel=1 ;; esac
served=" "
finish_batch() {
  for pid in $batch; do wait "$pid" || status=1; done
  batch=""
}
while read -r id where dir key; do
  [ -d "$work/$id" ] || continue # no file for it
  case $served in *" $id "*) continue ;; esac # a later line of the same id
  served="$served$id "
  if [ -z "$dir" ]; then
    say "orv_hosts: the line of $id names no site directory; waiting: $(waiting "$id")"
    status=1
    continue
  fi
  if [ -z "$keep" ] || [ $((${#keep} + ${#id})) -gt 88 ]; then
    [ -n "$control" ] || control=$(mktemp -d "${TMPDIR:-/tmp}/orv-ssh.XXXXXX") || exit 1
  fi
  (send_to "$id" "$where" "$dir" "$key") &
  batch="$batch $!"
  # With as many under way as may be, the next starts once the oldest is
  # done.
  set -- $batch
  if [ $# -ge "$parallel" ]; then
    wait "$1" || status=1
    shift
    batch="$*"
  fi
done <<EOF
$lines
EOF
finish_batch
exit $status
