#!/usr/bin/env bash
# What waits in each demo site's inbox and outbox, as JSON for the start
# page: {"north": {"inbox": 0, "outbox": 1}, ...}. Only counts are shown;
# the sites are the directories beside this script that hold html/config.txt.
cd "$(dirname "$0")" || exit 1
count() {
  local n=0 f
  for f in "$1"/*; do
    if [ -f "$f" ]; then n=$((n + 1)); fi
  done
  echo "$n"
}
printf 'Content-Type: application/json\r\nCache-Control: no-store\r\n\r\n{'
sep=
for config in */html/config.txt; do
  [ -e "$config" ] || continue
  site=${config%%/*}
  printf '%s"%s": {"inbox": %d, "outbox": %d}' "$sep" "$site" "$(count "$site/html/inbox")" "$(count "$site/html/outbox")"
  sep=', '
done
printf '}\n'
