#!/usr/bin/env bash
# The lighttpd lines of docs/operator.md, as an operator uses them on
# Debian: a copy of the packaged lighttpd.conf (moved to a temporary
# directory, 127.0.0.1 and free ports), the guide's lines in a file of
# conf-enabled beside Debian's own 10-cgi.conf, and a site laid out with
# orvsite new. The programs run (over TLS, with the password), html stays
# closed, plain HTTP is sent on to HTTPS, and what a transfer script writes
# to standard error lands in the breakage log.
#   operator_lighttpd_test.sh PROGRAM_DIR SOURCE_DIR
set -uo pipefail

bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
debian_conf=/etc/lighttpd/lighttpd.conf
for need in lighttpd curl openssl "$debian_conf" /usr/lib/lighttpd/mod_openssl.so; do
  if [ "${need#/}" = "$need" ]; then command -v "$need" >/dev/null; else [ -e "$need" ]; fi ||
    { echo "operator_lighttpd_test.sh: $need is missing: bash scripts/deps.sh test" >&2; exit 1; }
done

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-operator-test
chmod 755 "$t"  # lighttpd's user walks through it
server=""
on_exit 'if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi'
http_port=$(free_port)
tls_port=$(free_port "$http_port")

# The site, owned by the user lighttpd runs as (www-data when the test runs
# as root, the test's own user otherwise).
mkdir "$t/srv"
"$bin/orvsite" new "$t/srv/north" --server-id srv1 --orv-id north >/dev/null ||
  { echo "orvsite new failed" >&2; exit 1; }
printf 'ann:%s\n' "$(openssl passwd -apr1 s3cret)" >"$t/htpasswd"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$t/key.pem" -out "$t/cert.pem" -days 1 \
  -subj /CN=localhost 2>/dev/null || { echo "openssl req failed" >&2; exit 1; }
mkdir -p "$t/conf-enabled" "$t/log"

# Debian's lighttpd.conf, with its paths, user and port moved into the test.
user_lines=""
if [ "$(id -u)" -eq 0 ]; then
  chown -R www-data: "$t/srv/north/html" "$t/log"
  chmod o+r "$t/htpasswd" "$t/key.pem"
else
  user_lines='/^server\.username/d; /^server\.groupname/d;'
fi
sed -e "$user_lines" \
  -e "s|^server.document-root .*|server.document-root = \"$t/srv\"|" \
  -e "s|^server.upload-dirs .*|server.upload-dirs = (\"$t/log\")|" \
  -e "s|^server.errorlog .*|server.errorlog = \"$t/log/error.log\"|" \
  -e "s|^server.pid-file .*|server.pid-file = \"$t/log/pid\"|" \
  -e "s|^server.port .*|server.port = $http_port\nserver.bind = \"127.0.0.1\"|" \
  -e '/use-ipv6.pl/d' \
  -e "s|/etc/lighttpd/conf-enabled|$t/conf-enabled|" \
  "$debian_conf" >"$t/lighttpd.conf"
[ -e /etc/lighttpd/conf-available/10-cgi.conf ] &&
  cp /etc/lighttpd/conf-available/10-cgi.conf "$t/conf-enabled/"

# The guide's lines: every indented block of its lighttpd section that is
# configuration, with the example paths replaced and TLS on a loopback port.
awk '/^### lighttpd/ { on = 1; next } /^### / { on = 0 } on && /^    / { print substr($0, 5) }' \
  "$src/docs/operator.md" |
  grep -v -e '^lighttpd' -e '^apt-get' |
  sed -e "s|/srv/orv/north/|$t/srv/north/|" \
    -e "s|/etc/orv/htpasswd|$t/htpasswd|" \
    -e "s|/etc/ssl/orv/cert.pem|$t/cert.pem|" \
    -e "s|/etc/ssl/orv/key.pem|$t/key.pem|" \
    -e "s|/var/log/lighttpd/breakage.log|$t/log/breakage.log|" \
    -e "s|== \":443\"|== \"127.0.0.1:$tls_port\"|" \
    -e '/"\[::\]:443"/d' >"$t/conf-enabled/05-orv.conf"
grep -q 'mod_openssl' "$t/conf-enabled/05-orv.conf" && grep -q 'breakagelog' "$t/conf-enabled/05-orv.conf" ||
  { echo "the guide's lighttpd lines were not found" >&2; exit 1; }

lighttpd -tt -f "$t/lighttpd.conf" >"$t/check.out" 2>&1 ||
  { echo "lighttpd -tt rejects the guide's lines: $(cat "$t/check.out")" >&2; exit 1; }
[ ! -s "$t/check.out" ] || fail "lighttpd -tt warns: $(cat "$t/check.out")"
lighttpd -D -f "$t/lighttpd.conf" 2>"$t/lighttpd.err" &
server=$!
for _ in $(seq 100); do
  port_free "$tls_port" || break
  sleep 0.1
done
port_free "$tls_port" && { echo "lighttpd did not start: $(cat "$t/lighttpd.err")" >&2; exit 1; }

https=https://127.0.0.1:$tls_port/north
show='message_type=MSG_SHOW_CONFIG&flag=orv'
status() { # URL [curl options...]: the HTTP status; the answer in $t/page
  local url=$1
  shift
  curl -sk -o "$t/page" -D "$t/headers" -w '%{http_code}' "$@" "$url"
}
expect() { # DESCRIPTION EXPECTED ACTUAL
  [ "$2" = "$3" ] || fail "$1: expected $2, got $3"
}

expect "orv.cgi with the password" 200 "$(status "$https/orv.cgi?$show" -u ann:s3cret)"
grep -q 'ORV ID = north' "$t/page" || fail "orv.cgi did not run: $(head -c 300 "$t/page")"
grep -qi '^content-type: text/html; charset=utf-8' "$t/headers" || fail "no UTF-8 character set: $(cat "$t/headers")"
expect "orv.cgi without the password" 401 "$(status "$https/orv.cgi?$show")"
expect "orv.cgi by a longer path" 401 "$(status "$https/orv.cgi/x?$show")"
expect "vexil.cgi is public" 200 "$(status "$https/vexil.cgi?zoa_name=orv_manager")"
grep -q 'ACTION="orv.cgi"' "$t/page" || fail "vexil.cgi did not run: $(head -c 300 "$t/page")"
expect "html stays closed" 403 "$(status "$https/html/config.txt" -u ann:s3cret)"
expect "plain HTTP" 301 "$(status "http://127.0.0.1:$http_port/north/orv.cgi?$show")"
grep -qi "^location: https://" "$t/headers" || fail "plain HTTP is not sent on to HTTPS: $(cat "$t/headers")"

# A transfer script's standard error.
printf '#!/bin/sh\necho "orv_ftp_put.cmd: cannot reach east" >&2\n' >"$t/srv/north/html/orv_ftp_put.cmd"
chmod 755 "$t/srv/north/html/orv_ftp_put.cmd"
mkdir -p "$t/srv/north/html/outbox"
echo message >"$t/srv/north/html/outbox/east1"
[ "$(id -u)" -ne 0 ] || chown www-data: "$t/srv/north/html/orv_ftp_put.cmd" "$t/srv/north/html/outbox/east1"
status "$https/orv.cgi?message_type=SYS_SEND_MSG&flag=orv" -u ann:s3cret >/dev/null
for _ in $(seq 20); do
  grep -qs 'cannot reach east' "$t/log/breakage.log" && break
  sleep 0.1
done
grep -qs 'cannot reach east' "$t/log/breakage.log" ||
  fail "the transfer script's standard error is not in the breakage log"

finish
