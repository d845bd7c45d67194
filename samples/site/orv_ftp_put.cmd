#!/bin/sh
# orv_ftp_put.cmd: delivers the message files of `outbox` to the sites that
# live on this machine, in sibling directories:
#
#   <root>/north/html   <root>/east/html   <root>/south/html
#
# orv runs it in its `html` directory (SYS_SEND_MSG) when `outbox` holds at
# least one file. A message file is named after the orv id of its target
# site, followed by the second it was written in and a sequence number; the
# target is the sibling site whose `config.txt` holds that orv id (letter
# case does not matter). A file whose site is not found stays in `outbox`
# and is reported on standard error.
#
# Each file arrives exactly once and whole, even when this script is killed
# at any point (with its whole process group, as a service manager does on
# stop or timeout): every step is a rename, a copy to a name of its own or
# a removal, and the next run finds from what is there how far the last one
# got. For the file NAME with content hash HASH (the first 32 hex digits
# of its SHA-256) and this site's orv id SELF:
#   1. the file is copied into the target's `.incoming` directory (beside
#      its inbox) as `.SELF.NAME.HASH.part` and renamed `SELF.NAME.HASH`
#      when complete (a run that finds that copy already there reuses it);
#   2. the outbox file is renamed into `.outbox-local` of this site: from
#      now on the copy in `.incoming` is the message;
#   3. the copy is renamed into the target's inbox, under NAME or, when
#      that name is taken (two sites that wrote to the same site in the same
#      second), NAME.1, NAME.2, ...: a file in an inbox is never replaced,
#      and the receiving orv only looks at the orv id at the front;
#   4. the file in `.outbox-local` is removed.
# Before step 3 an empty delivery mark SELF.NAME.HASH is left in the
# target's `.inbox-link/done` (marks older than 60 days are removed), and
# the file's name in the target's inbox gets a sender record
# `.inbox-link/from/NAME` holding SELF, by which its pick-up knows the
# sender.
# A file found in `.outbox-local` is finished first: when its copy is
# still in `.incoming` the copy goes on at step 3, otherwise it arrived.
# When step 3 cannot be done (an inbox that cannot be written), the file
# goes back into `outbox` and waits for the next run.

set -u
me=orv_ftp_put.cmd
root=$(cd ../.. && pwd) || exit 1
html=$(pwd)
say() { echo "$me: $*" >&2; }
lower() { printf '%s' "$1" | tr '[:upper:]' '[:lower:]'; }

# The orv id in a site's config.txt ("orv id: <id>").
orv_id_of() {
  tr -d '\r' <"$1/config.txt" | sed -n 's/^orv id: *\([^ ]*\).*$/\1/p' | head -n 1
}

self=$(orv_id_of "$html")
case $self in
  '' | *[!A-Za-z0-9_-]*)
    say "config.txt holds no plain orv id ('$self'): every file stays in outbox"
    exit 1
    ;;
esac

# The sibling sites: one line "ORV_ID HTML_DIR" each, the id in lower case.
sites=$(for dir in "$root"/*/html; do
  [ -f "$dir/config.txt" ] || continue
  id=$(orv_id_of "$dir")
  [ -n "$id" ] && printf '%s %s\n' "$(lower "$id")" "$dir"
done)

# The html directory of the sibling site a message file is for, or nothing:
# the site whose orv id begins the name, followed by digits (and a suffix
# .N) only; the longest id wins when one id begins another.
target_of() {
  lname=$(lower "$1")
  lname=${lname%%.*}
  target=""
  best=0
  while read -r lid dir; do
    [ -n "$lid" ] || continue
    rest=${lname#"$lid"}
    [ "$rest" != "$lname" ] || continue
    case $rest in '' | *[!0-9]*) continue ;; esac
    if [ ${#lid} -gt "$best" ]; then
      best=${#lid}
      target=$dir
    fi
  done <<EOF
$sites
EOF
  printf '%s' "$target"
}

hash_of() { sha256sum <"$1" | cut -c1-32; }

# Step 3 and 4 for the file `.outbox-local/NAME` whose copy is
# TARGET/.incoming/ID. Fails (after putting the file back into outbox)
# when the inbox cannot take it.
link_in() {
  name=$1
  target=$2
  id=$3
  staged=$target/.incoming/$id
  if [ ! -f "$staged" ]; then
    # Renamed into the inbox by an earlier run that was stopped before
    # step 4.
    rm -f "$html/.outbox-local/$name"
    return 0
  fi
  { [ -d "$target/inbox" ] || mkdir "$target/inbox"; } 2>/dev/null
  # The delivery mark tells the receiving pick-up which site sent the file
  # (its messages do not always say); it is made before the file can be
  # picked up.
  { [ -d "$target/.inbox-link/done" ] || mkdir -p "$target/.inbox-link/done"; } 2>/dev/null
  : >"$target/.inbox-link/done/$id" 2>/dev/null
  { [ -d "$target/.inbox-link/from" ] || mkdir "$target/.inbox-link/from"; } 2>/dev/null
  dest=$name
  n=0
  # One sender at a time chooses a name in this inbox.
  (
    flock -w 300 9 || { say "$target/.incoming is busy"; exit 1; }
    while :; do
      # The sender record of the name, written before the file can be
      # picked up under it (a record left by a file of the same name that
      # was removed by hand is replaced).
      [ -e "$target/inbox/$dest" ] || printf '%s\n' "$self" >"$target/.inbox-link/from/$dest" 2>/dev/null
      # mv -n never replaces a file; whether the copy is still there tells
      # whether it moved.
      mv -n -- "$staged" "$target/inbox/$dest" 2>/dev/null
      [ -e "$staged" ] || exit 0
      [ -e "$target/inbox/$dest" ] || exit 1 # not a taken name: no way in
      n=$((n + 1))
      dest=$name.$n
    done
  ) 9>>"$target/.incoming/.lock"
  if [ -e "$staged" ]; then
    say "cannot deliver $name to $target/inbox: it stays in outbox"
    mv -n -- "$html/.outbox-local/$name" "$html/outbox/$name"
    return 1
  fi
  rm -f "$html/.outbox-local/$name"
  return 0
}

status=0
[ -d .outbox-local ] || mkdir .outbox-local || exit 1

# Files of a run that was stopped after step 2.
for file in .outbox-local/*; do
  [ -f "$file" ] || continue
  name=${file#.outbox-local/}
  target=$(target_of "$name")
  if [ -z "$target" ]; then
    say "no site on this machine for $name (in .outbox-local)"
    status=1
    continue
  fi
  link_in "$name" "$target" "$self.$name.$(hash_of "$file")" || status=1
done

for file in outbox/*; do
  [ -f "$file" ] || continue
  name=${file#outbox/}
  case $name in
    *[!A-Za-z0-9_.-]* | .*)
      say "$name is no message file name: it stays in outbox"
      status=1
      continue
      ;;
  esac
  target=$(target_of "$name")
  if [ -z "$target" ]; then
    say "no site on this machine for $name: it stays in outbox"
    status=1
    continue
  fi
  id=$self.$name.$(hash_of "$file")
  incoming=$target/.incoming
  { [ -d "$incoming" ] || mkdir "$incoming"; } 2>/dev/null
  if [ ! -f "$incoming/$id" ]; then
    if ! cp -- "$file" "$incoming/.$id.part" || ! mv -f -- "$incoming/.$id.part" "$incoming/$id"; then
      rm -f "$incoming/.$id.part"
      say "cannot copy $name into $incoming: it stays in outbox"
      status=1
      continue
    fi
  fi
  if ! mv -n -- "$file" ".outbox-local/$name" || [ -e "$file" ]; then
    say "cannot move $name out of outbox: it stays there"
    status=1
    continue
  fi
  link_in "$name" "$target" "$id" || status=1
done

# Delivery marks of files picked up long ago.
for dir in "$root"/*/html/.inbox-link/done; do
  [ -d "$dir" ] && find "$dir" -maxdepth 1 -type f -mtime +60 -exec rm -f {} + 2>/dev/null
done

# Copies of runs that were stopped during step 1, a day ago or more.
for dir in "$root"/*/html/.incoming; do
  [ -d "$dir" ] && find "$dir" -maxdepth 1 -type f -name '.*.part' -mtime +0 -exec rm -f {} + 2>/dev/null
done
exit $status
