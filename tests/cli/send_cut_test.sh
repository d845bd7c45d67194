#!/usr/bin/env bash
# Black-box test of a send cut short: the local put script stopped after it
# took a message out of north's outbox (the file waits in .outbox-local,
# its copy in east's .incoming). The next exchange finishes it, and
# `orvsite status` tells of one left there too long.
#   send_cut_test.sh BIN_DIR SAMPLES_DIR
set -uo pipefail

bin=$(cd "$1" && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-send-cut-test

"$bin/orvsite" new "$t/north" --server-id srv1 --orv-id north >/dev/null || exit 1
"$bin/orvsite" new "$t/east" --server-id srv2 --orv-id east >/dev/null || exit 1
a=$t/north/html
b=$t/east/html
cp "$2/north/config.txt" "$a/"
cp "$2/east/config.txt" "$b/"

# cut_short NAME: the state the put script leaves when it is killed right after
# its step 2 (copied to the target, moved out of outbox).
cut_short() {
  mkdir -p "$a/outbox"
  echo "message $1" >"$a/outbox/$1"
  local id
  id=north.$1.$(sha256sum <"$a/outbox/$1" | cut -c1-32)
  mkdir -p "$b/.incoming" "$a/.outbox-local"
  cp "$a/outbox/$1" "$b/.incoming/$id"
  mv "$a/outbox/$1" "$a/.outbox-local/$1"
}

cut_short east17000000001
"$bin/orvsite" status "$t/north" >"$t/status" 2>&1
check "a send just cut short is shown" contains "$t/status" "send cut short: east17000000001 held in html/.outbox-local"
check "and is no alarm yet" contains "$t/status" ": in order"
check "the next exchange succeeds" "$bin/orvsite" exchange "$t/north" >"$t/out" 2>"$t/err"
check "and finishes the send" [ "$(cat "$b/inbox/east17000000001" 2>/dev/null)" = "message east17000000001" ]
check "it counts as sent" contains "$t/out" "sent 1 message"
check "nothing is left on the way" [ -z "$(find "$a/.outbox-local" "$b/.incoming" -type f ! -name .lock)" ]

# Held longer than the site's limit (1 second here; a minute by default),
# it needs the operator, in text, JSON and metrics.
rm -f "$b/inbox/east17000000001"
cut_short east17000000002
echo "cut-send-for 1" >"$a/exchange.conf"
sleep 2
"$bin/orvsite" status "$t/north" >"$t/status" 2>&1
check "an old cut send needs the operator" [ $? -eq 1 ]
check "and says why" contains "$t/status" "! html/.outbox-local: east17000000002 has waited"
"$bin/orvsite" status --json "$t/north" >"$t/status.json" 2>&1
check "JSON lists it" python3 -c '
import json, sys
s = json.load(open(sys.argv[1]))["sites"][0]
c = s["cut_sends"]
assert s["needs_attention"] and c[0]["name"] == "east17000000002" and c[0]["held_seconds"] >= 1, s
' "$t/status.json"
"$bin/orvsite" status --prometheus "$t/m.prom" "$t/north" >/dev/null 2>&1
check "the metrics count it" grep -q '^orvsite_cut_send_files{.*} 1$' "$t/m.prom"
# A send with nothing in outbox finishes it too (orv itself, not only the
# exchange).
(cd "$a/.." && env -i PATH=/usr/bin:/bin REQUEST_METHOD=GET QUERY_STRING="message_type=SYS_SEND_MSG&flag=orv" ./orv.cgi) >"$t/page" 2>&1
check "the send says there is no outgoing message" contains "$t/page" "There is no outgoing message."
check "and finishes the one cut short" contains "$t/page" "Finish the send cut short of: east17000000002"
check "which arrives" [ -f "$b/inbox/east17000000002" ]
check "and the site is in order again" "$bin/orvsite" status "$t/north" >/dev/null

finish
