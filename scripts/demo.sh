#!/usr/bin/env bash
# Builds the programs, lays out a demo site outside the source tree and serves
# it with lighttpd on 127.0.0.1 until stopped (Ctrl-C).
#   PORT      port to listen on (default 8080)
#   DEMO_DIR  where the site is laid out (default /tmp/orv-demo)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

port=${PORT:-8080}
demo=${DEMO_DIR:-/tmp/orv-demo}

bash scripts/deps.sh demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

mkdir -p "$demo/www/html"
install -m 0755 build/bin/orv "$demo/www/orv.cgi"
install -m 0644 scripts/demo/index.html "$demo/www/index.html"
# A new site starts with its identity set; later changes go through the page.
if [ ! -e "$demo/www/html/config.txt" ]; then
  install -m 0644 scripts/demo/config.txt "$demo/www/html/config.txt"
fi

cat > "$demo/lighttpd.conf" <<CONF
server.modules = ("mod_access", "mod_cgi")
server.document-root = "$demo/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$demo/error.log"
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html")
cgi.assign = (".cgi" => "")
# The site's own files are for the programs, not for the browser.
\$HTTP["url"] =~ "^/html/" { url.access-deny = ("") }
CONF

echo "Serving the demo site from $demo"
echo "Open http://127.0.0.1:$port/ (Ctrl-C stops the server)"
exec lighttpd -D -f "$demo/lighttpd.conf"
