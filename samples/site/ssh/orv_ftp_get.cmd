#!/bin/sh
# orv_ftp_get.cmd (SSH): orv runs it in its `html` directory at the start of
# SYS_PICK_UP_MSG. The peers push: their put scripts copy message files
# into this site's staging directory `.inbox-staging` and link them into
# `inbox` at once (see orv_ftp_put.cmd). So there is nothing to fetch; what
# this script does is finish deliveries whose connection was cut between
# the copy and the link-in: every complete staged file from a peer of the
# host map `orv_hosts` is linked into `inbox` by orv_ssh_link.sh, exactly
# once (the sender's next send then finds it delivered). A staged file
# from a sender that is not in the map is reported and left where it is.
# It reports on standard error only, and says nothing when nothing is
# staged.
# orvsite: fetches nothing. (A staged copy left here is also linked in by
# the sender's next send, which repeats until it is confirmed; so orvsite
# exchange and watch pick up only when inbox holds a file for the site.)

set -u
me=orv_ftp_get.cmd
html=$(pwd)
map=$html/orv_hosts
staging=$html/.inbox-staging
say() { echo "$me: $*" >&2; }
lower() { printf '%s' "$1" | tr '[:upper:]' '[:lower:]'; }

[ -d "$staging" ] && [ ! -L "$staging" ] || exit 0
# Nothing staged (as after most deliveries): nothing to start a process for.
for f in "$staging"/*; do [ -e "$f" ] && break; done
[ -e "$f" ] || exit 0
# At most one link-in's worth of files per run (the rest wait for the next).
staged=$(find "$staging" -mindepth 1 -maxdepth 1 -type f ! -name '.*' -printf '%f\n' 2>/dev/null |
  grep -v '[^A-Za-z0-9_.-]' | head -n 1000 | tr '\n' ' ')
[ -n "$staged" ] || exit 0
if [ ! -f "$map" ]; then
  say "no host map $map: staged files stay in $staging:$staged"
  exit 1
fi
peers=" $(sed -e 's/\r$//' -e 's/#.*$//' "$map" | awk 'NF > 0 { print $1 }' | tr '[:upper:]' '[:lower:]' | tr '\n' ' ')"

ids=""
status=0
for id in $staged; do
  case $peers in
    *" $(lower "${id%%.*}") "*) ids="$ids $id" ;;
    *)
      say "$id comes from ${id%%.*}, which is not in orv_hosts: it stays in $staging"
      status=1
      ;;
  esac
done
[ -n "$ids" ] || exit $status

# shellcheck disable=SC2086 # the ids are words without blanks
answer=$(sh ./orv_ssh_link.sh "$html" $ids) || status=1
while read -r what id dest; do
  case $what in
    linked) say "linked ${id%.*} into inbox/$dest" ;;
    bad) say "dropped $id: its content does not match its hash" ;;
  esac
done <<EOF
$answer
EOF
exit $status
