#!/bin/sh
# orv_ssh_link.sh: the receiving half of the SSH transfer scripts. It links
# the message files that a sender has copied into this site's staging
# directory into `inbox`, each exactly once:
#
#   sh orv_ssh_link.sh HTML_DIR [TRANSFER_ID ...]
#
# HTML_DIR is the site's `html` directory. A sender's put script runs it on
# this machine over ssh (it sends the script on standard input, so nothing
# needs installing here); this site's get script runs it for what is staged
# without naming transfer ids (then every complete staged file is linked).
#
# A transfer id is `SENDER.NAME.HASH`: the sender's orv id, the name of the
# file in the sender's outbox and the first 32 hex digits of the SHA-256 of
# its content. The staged copy is HTML_DIR/.inbox-staging/TRANSFER_ID,
# written there whole by rsync (which writes a hidden temporary file and
# renames it when complete). For each id, one line on standard output:
#   linked ID NAME   now in inbox under NAME (the next free name: NAME,
#                    NAME.1, NAME.2, ...; a file in inbox is never replaced)
#   known ID         linked in by an earlier run: the copy is dropped
#   missing ID       nothing staged under that id
#   bad ID           the staged copy does not match the hash: dropped
# Every id that was linked leaves an empty marker in .inbox-staging/done;
# that is how a repeated send (after its confirmation was lost) is known.
# Markers older than 60 days are removed.

set -u
# A dropped connection must not cut a link-in short: the steps below run
# to the end once begun.
trap '' HUP INT TERM PIPE

[ $# -ge 1 ] || { echo "usage: orv_ssh_link.sh HTML_DIR [TRANSFER_ID ...]" >&2; exit 2; }
html=$1
shift
staging=$html/.inbox-staging
inbox=$html/inbox
[ -d "$html" ] || { echo "orv_ssh_link.sh: no site directory $html" >&2; exit 1; }
[ -d "$inbox" ] || mkdir "$inbox" || exit 1
[ -d "$staging/done" ] || mkdir -p "$staging/done" || exit 1

# One link-in at a time per site (the sender's and the site's own).
exec 9>>"$staging/.lock" || exit 1
flock -w 300 9 || { echo "orv_ssh_link.sh: $staging is busy" >&2; exit 1; }

if [ $# -eq 0 ]; then
  for file in "$staging"/*; do
    [ -f "$file" ] && set -- "$@" "${file##*/}"
  done
fi

for id in "$@"; do
  case $id in
    .* | */* | '') echo "bad $id"; continue ;;
  esac
  staged=$staging/$id
  # The name must stay a message file name in inbox: not "." or "..", not
  # hidden, no other characters than the senders write (a staged
  # "north.....HASH" would otherwise be linked beside inbox, not into it).
  name=${id#*.}
  name=${name%.*}
  case $name in
    '' | .* | *[!A-Za-z0-9_.-]*)
      rm -f "$staged"
      echo "bad $id"
      continue
      ;;
  esac
  if [ -e "$staging/done/$id" ]; then
    rm -f "$staged"
    echo "known $id"
    continue
  fi
  if [ -L "$staged" ]; then # rsync may write links: only files are taken
    rm -f "$staged"
    echo "bad $id"
    continue
  fi
  if [ ! -f "$staged" ]; then
    echo "missing $id"
    continue
  fi
  hash=${id##*.}
  rest=${id%.*}
  name=${rest#*.}
  if [ "$rest" = "$id" ] || [ "$name" = "$rest" ] ||
    [ "$(sha256sum <"$staged" | cut -c1-32)" != "$hash" ]; then
    rm -f "$staged"
    echo "bad $id"
    continue
  fi
  dest=$name
  n=0
  # A name that is taken, even by a directory (ln would link into it), is
  # skipped.
  while [ -e "$inbox/$dest" ] || [ -L "$inbox/$dest" ] || ! ln "$staged" "$inbox/$dest" 2>/dev/null; do
    if [ ! -e "$inbox/$dest" ] && [ ! -L "$inbox/$dest" ]; then # not taken: inbox cannot be written
      echo "orv_ssh_link.sh: cannot link $id into $inbox" >&2
      exit 1
    fi
    n=$((n + 1))
    dest=$name.$n
  done
  : >"$staging/done/$id"
  rm -f "$staged"
  echo "linked $id $dest"
done

# Old markers, and temporary files of copies that were cut off a day ago.
find "$staging/done" -type f -mtime +60 -exec rm -f {} + 2>/dev/null
find "$staging" -maxdepth 1 -type f -name '.?*' ! -name .lock -mtime +1 -exec rm -f {} + 2>/dev/null
exit 0
