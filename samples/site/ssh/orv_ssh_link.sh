#!/bin/sh
# orv_ssh_link.sh: the receiving half of the SSH transfer scripts. It links
# the message files that a sender has copied into this site's staging
# directory into `inbox`, each exactly once:
#
#   sh orv_ssh_link.sh [--peer SENDER] HTML_DIR TRANSFER_ID...
#   sh orv_ssh_link.sh [--peer SENDER] --stream HTML_DIR <DELIVERY
#
# Where orvsite is installed, the forced command hands a delivery on
# standard input to `orvsite deliver` instead, which does the same in one
# process: a change to the rules here belongs there too.
#
# HTML_DIR is the site's `html` directory. A sender's put script runs it on
# this machine over ssh, through the forced command of its key
# (orv_ssh_serve.sh, which adds `--peer SENDER` when the key's line names
# the sender); this site's get script runs it for what is staged.
#
# A transfer id is `SENDER.NAME.HASH`: the sender's orv id, the name of the
# file in the sender's outbox and the first 32 hex digits of the SHA-256 of
# its content. The staged copy is HTML_DIR/.inbox-staging/TRANSFER_ID,
# written there whole by rsync (which writes a hidden temporary file and
# renames it when complete), or by this script itself from a delivery on
# standard input (--stream): for each file a header of exactly 256 bytes,
# `TRANSFER_ID SIZE` padded with spaces and ended by a newline, then SIZE
# bytes of content. A delivery is read into staging before anything is
# locked, each file to a hidden name first, and within the staging limits;
# it stops at the first header that is not one or at a file over the
# limits (the sender sends what was not confirmed again). The files read
# are then linked in as if named. Only a plain file is taken, only from SENDER
# (when --peer names it), only under a NAME that is a message file for this
# site (its orv id followed by digits), and only within the staging limits.
# For each id, one line on standard output:
#   linked ID NAME   now in inbox under NAME (the next free name: NAME,
#                    NAME.1, NAME.2, ...; a file in inbox is never replaced)
#   known ID         linked in by an earlier run: the copy is dropped
#   missing ID       nothing staged under that id
#   bad ID           the staged copy does not match the hash, or its name
#                    is no message file name: dropped
#   refused ID WHY   the copy is not taken (WHY says why): dropped
# Every refusal is also added to HTML_DIR/.inbox-link/refused, which the
# get script reports in the exchange log.
#
# The link-in keeps its own records in HTML_DIR/.inbox-link, outside the
# directory the peers write: its lock, an empty marker per linked id in
# `done` (how a repeated send, after its confirmation was lost, is known;
# markers older than 60 days are removed now and then), and per file it
# links a sender record `from/NAME` holding the sender's orv id, written
# before the file enters inbox as NAME (the pick-up reads it, and removes
# it with the file).
#
# Staging limits: HTML_DIR/orv_staging_limits may hold the lines
#   files N     at most N files staged and taken per run (default 1000)
#   bytes N     at most N bytes staged and taken per run (default 67108864)
# A file larger than the byte limit is refused before it is read. When the
# staging directory holds more than the limits, whatever is left in it after
# the run is removed (its senders send it again).

set -u
# A dropped connection must not cut a link-in short: the steps below run
# to the end once begun (and they are bounded by the staging limits).
trap '' HUP INT TERM PIPE
me=orv_ssh_link.sh

peer=""
if [ "${1-}" = --peer ]; then
  peer=${2-}
  case $peer in *[A-Z]*) peer=$(printf '%s' "$peer" | tr '[:upper:]' '[:lower:]') ;; esac
  shift 2
fi
stream=""
if [ "${1-}" = --stream ] && [ $# -eq 2 ]; then
  stream=yes
  shift
elif [ $# -lt 2 ]; then
  echo "usage: $me [--peer SENDER] HTML_DIR TRANSFER_ID... | [--peer SENDER] --stream HTML_DIR" >&2
  exit 2
fi
html=$1
shift
staging=$html/.inbox-staging
inbox=$html/inbox
records=$html/.inbox-link
[ -d "$html" ] || { echo "$me: no site directory $html" >&2; exit 1; }
for dir in "$inbox" "$staging" "$records" "$records/done" "$records/from"; do
  if [ -L "$dir" ]; then
    echo "$me: $dir is a symbolic link, not a directory of the site" >&2
    exit 1
  fi
  [ -d "$dir" ] || mkdir "$dir" || exit 1
done
if [ -L "$records/lock" ] || { [ -e "$records/lock" ] && [ ! -f "$records/lock" ]; }; then
  echo "$me: $records/lock is not a plain file" >&2
  exit 1
fi

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

# This site's orv id: the names of its message files begin with it.
self=""
if [ -f "$html/config.txt" ] && [ ! -L "$html/config.txt" ]; then
  read_orv_id <"$html/config.txt"
  case $self in *[A-Z]*) self=$(printf '%s' "$self" | tr '[:upper:]' '[:lower:]') ;; esac
fi
case $self in
  '' | *[!a-z0-9_-]*) echo "$me: $html/config.txt holds no plain orv id" >&2; exit 1 ;;
esac

max_files=1000
max_bytes=67108864
limits=$html/orv_staging_limits
if [ -f "$limits" ] && [ ! -L "$limits" ]; then
  while read -r key value _; do
    case $value in '' | *[!0-9]*) continue ;; esac
    case $key in
      files) max_files=$value ;;
      bytes) max_bytes=$value ;;
    esac
  done <<LIMITS
$(head -c 4096 "$limits" | tr -d '\r')
LIMITS
fi

# refuse ID WHY: the staged copy of ID is not taken.
refuse() {
  rm -rf "${staging:?}/$1"
  echo "refused $1 $2"
  printf '%s: %s (%s)\n' "$1" "$2" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >>"$records/refused"
}

# A delivery on standard input: its files are staged, then linked in as if
# named on the command line. The header is read with `head -c`, which
# reads no further than it is asked to, so that a sender cannot make this
# script hold an endless line; the names are checked again below.
sizes="" # " ID=SIZE" of each file of the delivery
if [ -n "$stream" ]; then
  taken=0
  while :; do
    header=$(head -c 256) || break
    [ -n "$header" ] || break # the end of the delivery
    id=${header%% *}
    size=${header#"$id "}
    size=${size%% *}
    pad=${header#"$id $size"}
    # A transfer id, a size of at most 15 digits and spaces up to the
    # newline: anything else ends the delivery.
    case $id in '' | .* | *[!A-Za-z0-9_.-]*) size="" ;; esac
    case $pad in *[!\ ]*) size="" ;; esac
    [ ${#header} -eq 255 ] || size=""
    case $size in '' | *[!0-9]* | ????????????????*)
      echo "$me: the delivery holds no header where one belongs: it ends there" >&2
      break
      ;;
    esac
    if [ $# -ge "$max_files" ]; then
      echo "refused $id more than $max_files files in one delivery"
      printf 'a delivery of more than %s files: only the first %s are taken (%s)\n' \
        "$max_files" "$max_files" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >>"$records/refused"
      break
    fi
    if [ "$size" -gt $((max_bytes - taken)) ]; then
      echo "refused $id $size bytes, over the staging limit of $max_bytes bytes"
      printf '%s: %s (%s)\n' "$id" "$size bytes, over the staging limit of $max_bytes bytes" \
        "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >>"$records/refused"
      break
    fi
    part=$staging/.deliver.$$.$#
    head -c "$size" >"$part" || { rm -f "$part"; break; }
    # -T: a directory of that name is not written into.
    mv -fT "$part" "$staging/$id" 2>/dev/null || { rm -f "$part"; echo "bad $id"; continue; }
    taken=$((taken + size))
    sizes="$sizes $id=$size"
    set -- "$@" "$id"
  done
  exec </dev/null
fi

# One link-in at a time per site (the senders' and the site's own).
exec 9>>"$records/lock" || exit 1
flock -w 300 9 || { echo "$me: $staging is busy" >&2; exit 1; }

bytes=0
seen=0
if [ $# -gt "$max_files" ]; then
  printf 'a delivery of %s files: only the first %s are taken (%s)\n' \
    $# "$max_files" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >>"$records/refused"
fi
for id in "$@"; do
  seen=$((seen + 1))
  if [ "$seen" -gt "$max_files" ]; then # cheap: the copies go with the staging's cleaning
    echo "refused $id more than $max_files files in one delivery"
    continue
  fi
  case $id in
    .* | */* | '') echo "bad $id"; continue ;;
  esac
  staged=$staging/$id
  sender=${id%%.*}
  hash=${id##*.}
  rest=${id%.*}
  name=${rest#*.}
  # The name must stay a message file name in inbox: not "." or "..", not
  # hidden, no other characters than the senders write (a staged
  # "north.....HASH" would otherwise be linked beside inbox, not into it).
  case $name in
    '' | .* | *[!A-Za-z0-9_.-]*)
      rm -rf "$staged"
      echo "bad $id"
      continue
      ;;
  esac
  # Letter case does not matter (a sender has no dot: it ends at the first).
  case $sender.$name in
    *[A-Z]*) lower=$(printf '%s' "$sender.$name" | tr '[:upper:]' '[:lower:]') ;;
    *) lower=$sender.$name ;;
  esac
  lsender=${lower%%.*}
  lname=${lower#*.}
  digits=${lname#"$self"}
  if [ "$rest" = "$id" ] || [ "$name" = "$rest" ]; then
    rm -rf "$staged"
    echo "bad $id"
    continue
  fi
  case $lsender in '' | *[!a-z0-9_-]*)
    refuse "$id" "the sender is no plain orv id"
    continue
    ;;
  esac
  if [ -n "$peer" ] && [ "$lsender" != "$peer" ]; then
    refuse "$id" "sent with the key of $peer under the orv id $sender"
    continue
  fi
  case $digits in
    "$lname" | '' | *[!0-9]*)
      refuse "$id" "$name is no message file name for $self"
      continue
      ;;
  esac
  case $hash in
    *[!0-9a-f]*) rm -rf "$staged"; echo "bad $id"; continue ;;
  esac
  [ ${#hash} -eq 32 ] || { rm -rf "$staged"; echo "bad $id"; continue; }
  if [ -e "$records/done/$id" ]; then
    rm -rf "$staged"
    echo "known $id"
    continue
  fi
  if [ -L "$staged" ] || { [ -e "$staged" ] && [ ! -f "$staged" ]; }; then
    refuse "$id" "not a plain file"
    continue
  fi
  if [ ! -f "$staged" ]; then
    echo "missing $id"
    continue
  fi
  # The size of a file of this delivery is known (a copy cut short fails
  # its hash below); another's is read.
  case "$sizes " in
    *" $id="*)
      size=${sizes#*" $id="}
      size=${size%% *}
      ;;
    *) size=$(stat -c %s -- "$staged" 2>/dev/null) || size="" ;;
  esac
  case $size in '' | *[!0-9]*) refuse "$id" "its size cannot be read"; continue ;; esac
  if [ "$size" -gt $((max_bytes - bytes)) ]; then
    refuse "$id" "$size bytes, over the staging limit of $max_bytes bytes"
    continue
  fi
  sum=$(sha256sum <"$staged")
  if [ "${sum%"${sum#????????????????????????????????}"}" != "$hash" ]; then
    rm -f "$staged"
    echo "bad $id"
    continue
  fi
  bytes=$((bytes + size))
  dest=$name
  n=0
  # A name that is taken, even by a directory (ln would link into it), is
  # skipped.
  # Each name tried gets its sender record before the file can be picked
  # up under it.
  while [ -e "$inbox/$dest" ] || [ -L "$inbox/$dest" ] ||
    ! { printf '%s\n' "$sender" >"$records/from/$dest" 2>/dev/null; ln "$staged" "$inbox/$dest" 2>/dev/null; }; do
    if [ ! -e "$inbox/$dest" ] && [ ! -L "$inbox/$dest" ]; then # not taken: inbox cannot be written
      echo "$me: cannot link $id into $inbox" >&2
      exit 1
    fi
    n=$((n + 1))
    dest=$name.$n
  done
  : >"$records/done/$id"
  rm -f "$staged"
  echo "linked $id $dest"
done

# Whether staging holds anything (without a process: this runs for every
# delivery, and staging is empty after most).
holds_any() {
  for f in "$staging"/* "$staging"/.[!.]* "$staging"/..?*; do
    if [ -e "$f" ] || [ -L "$f" ]; then return 0; fi
  done
  return 1
}

# Now and then (at about one link-in in 64), the markers and sender records
# older than 60 days go.
[ $(($$ % 64)) -ne 0 ] || find "$records/done" "$records/from" -type f -mtime +60 -exec rm -f {} + 2>/dev/null
holds_any || exit 0

# What cannot be delivered goes: anything in staging that is not a plain
# file (sub-directories, links, devices), files whose names are no transfer
# ids of messages for this site, and copies and temporary files that were
# cut off or never linked in a day ago.
find "$staging" -mindepth 1 -maxdepth 1 ! -type f -exec rm -rf {} + 2>/dev/null
find "$staging" -mindepth 1 -maxdepth 1 -type f -mtime +1 -exec rm -f {} + 2>/dev/null
find "$staging" -regextype posix-extended -mindepth 1 -maxdepth 1 -type f ! -name '.*' \
  ! -iregex ".*/[a-z0-9_-]+\.$self[0-9]+\.[0-9a-f]{32}" -exec rm -f {} + 2>/dev/null
# A staging directory over its limits is emptied.
held=$(find "$staging" -mindepth 1 -maxdepth 1 -type f -printf '%s\n' 2>/dev/null |
  awk '{ n++; s += $1 } END { printf "%d %d", n, s }')
held_files=${held% *}
held_bytes=${held#* }
if [ "$held_files" -gt "$max_files" ] || [ "$held_bytes" -gt "$max_bytes" ]; then
  find "$staging" -mindepth 1 -maxdepth 1 -type f -exec rm -f {} + 2>/dev/null
  printf 'staging held %s files, %s bytes, over its limits (%s files, %s bytes): emptied (%s)\n' \
    "$held_files" "$held_bytes" "$max_files" "$max_bytes" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >>"$records/refused"
fi
exit 0
