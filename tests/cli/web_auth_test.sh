#!/usr/bin/env bash
# Black-box test of the demo's access control: the demo laid out with
# AUTH=user:password behind lighttpd on a free loopback port. A request to
# orv.cgi without the right credentials is answered 401 and changes
# nothing; with them it works; vexil.cgi stays public and `html` closed.
#   web_auth_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-auth-test
server=""
on_exit 'if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi'
need lighttpd curl openssl
port=$(free_port) || exit 1

AUTH='ann:s3cret:with colon' BUILD_DIR=$build DEMO_DIR=$t/demo PORT=$port \
  bash "$src/scripts/demo_layout.sh" >/dev/null || { echo "demo_layout.sh failed" >&2; exit 1; }
lighttpd -D -f "$t/demo/lighttpd.conf" 2>"$t/lighttpd.log" &
server=$!
for _ in $(seq 100); do
  port_free "$port" || break
  sleep 0.1
done
port_free "$port" && { echo "lighttpd did not start" >&2; cat "$t/lighttpd.log" "$t/demo/error.log" >&2; exit 1; }

base=http://127.0.0.1:$port
create="flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=d1&i_am=optics%23%21&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=x%23%21&i_comment=x%23%21&vantle_type=Archives&sym_name=one"
html=$t/demo/www/north/html
# status URL [curl options...]: the HTTP status of a request; the page in $t/page.
status() {
  local url=$1
  shift
  curl -s -o "$t/page" -w '%{http_code}' "$@" "$url"
}
state() { (cd "$html" && find . -printf '%p %s %T@\n' | sort); }
expect() { # DESCRIPTION EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: expected $2, got $3"
}

before=$(state)
expect "orv.cgi without credentials" 401 "$(status "$base/north/orv.cgi?$create")"
expect "orv.cgi with a wrong password" 401 "$(status "$base/north/orv.cgi?$create" -u ann:wrong)"
expect "orv.cgi by a longer path" 401 "$(status "$base/north/orv.cgi/more?$create")"
expect "a POST without credentials" 401 "$(status "$base/north/orv.cgi" --data "$create")"
expect "cellkit.cgi without credentials" 401 \
  "$(status "$base/cellkit/cellkit.cgi?flag=new&ic_type=CLICK&message_type=SINGLECLICK")"
expect "the site is unchanged" "$before" "$(state)"

expect "orv.cgi with credentials" 200 "$(status "$base/north/orv.cgi?$create" -u 'ann:s3cret:with colon')"
grep -qF 'Create a new Vantle 1 for Doc "d1"' "$t/page" || fail "the vantle is not created: $(cat "$t/page")"
[ -f "$html/file.ic" ] || fail "no file.ic after the request with credentials"

expect "vexil.cgi is public" 200 "$(status "$base/vexil.cgi?zoa_name=start")"
expect "html stays closed" 403 "$(status "$base/north/html/config.txt" -u 'ann:s3cret:with colon')"
expect "the password file is not served" 404 "$(status "$base/../htpasswd" --path-as-is)"

finish
