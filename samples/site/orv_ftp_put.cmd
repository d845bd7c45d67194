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
# case does not matter). The file is moved into the target's `inbox`:
#   - it is copied beside the inbox first and then linked into it, so the
#     receiving orv never reads half a file;
#   - a name that is taken in the inbox (two sites that wrote to the same
#     site in the same second) gets a suffix ".1", ".2", ..., so no file in
#     an inbox is ever replaced; the suffix keeps the orv id at the front,
#     which is all the receiving orv looks at.
# A file whose site is not found stays in `outbox` and is reported on
# standard error.

set -u
root=$(cd ../.. && pwd) || exit 1

lower() { printf '%s' "$1" | tr '[:upper:]' '[:lower:]'; }

# The orv id in a site's config.txt ("orv id: <id>").
orv_id_of() {
  tr -d '\r' <"$1/config.txt" | sed -n 's/^orv id: *\([^ ]*\).*$/\1/p' | head -n 1
}

for file in outbox/*; do
  [ -f "$file" ] || continue
  name=${file#outbox/}
  lname=$(lower "$name")

  # The site whose orv id begins the name, followed by digits only; the
  # longest id wins when one id begins another.
  target=""
  best=0
  for dir in "$root"/*/html; do
    [ -f "$dir/config.txt" ] || continue
    id=$(orv_id_of "$dir")
    [ -n "$id" ] || continue
    lid=$(lower "$id")
    rest=${lname#"$lid"}
    [ "$rest" != "$lname" ] || continue
    case $rest in '' | *[!0-9]*) continue ;; esac
    if [ ${#lid} -gt "$best" ]; then
      best=${#lid}
      target=$dir
    fi
  done
  if [ -z "$target" ]; then
    echo "orv_ftp_put.cmd: no site on this machine for $name" >&2
    continue
  fi

  [ -d "$target/inbox" ] || mkdir "$target/inbox" || continue
  aside="$target/.incoming.$name.$$"
  if ! cp "$file" "$aside"; then
    rm -f "$aside"
    continue
  fi
  dest="$target/inbox/$name"
  n=0
  delivered=no
  while :; do
    if ln "$aside" "$dest" 2>/dev/null; then
      delivered=yes
      break
    fi
    [ -e "$dest" ] || break # not a taken name: the inbox cannot be written
    n=$((n + 1))
    dest="$target/inbox/$name.$n"
  done
  rm -f "$aside"
  if [ "$delivered" = yes ]; then
    rm -f "$file"
  else
    echo "orv_ftp_put.cmd: cannot deliver $name to $target/inbox" >&2
  fi
done
exit 0
