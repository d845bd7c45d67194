#!/usr/bin/env bash
# Lays out the demo under DEMO_DIR: three sample sites (orv ids north, east
# and south), the start page and, once the program exists, the cellkit click
# demo; writes a lighttpd configuration that serves them on 127.0.0.1:PORT.
# It does not start the server: scripts/demo.sh does, and so do the browser
# tests, each with a fresh DEMO_DIR on a free port.
#   BUILD_DIR  the build tree whose bin/ holds the programs (default build)
#   DEMO_DIR   where the demo is laid out (default /tmp/orv-demo); it must
#              lie outside the source tree
#   PORT       the port written into the configuration (default 8080)
#   AUTH       user:password switches on HTTP basic authentication for the
#              programs that change a site (default: off)
#
#   DEMO_DIR/lighttpd.conf, error.log
#   DEMO_DIR/www/                   document root
#     index.html                    sends the browser on to the start page
#     vexil.cgi, html/zoaml/        the start page
#     north/ east/ south/           one site each:
#       vexil.cgi, orv.cgi          the programs under the names its pages use
#       S-Event_Data/Images/        the images its pages show
#       html/                       the site's files (never served)
#     cellkit/                      the click demo (when it is built)
#
# Programs, pages and transfer scripts are replaced on every run. A site's
# data (config.txt, site.config, kb.txt, cells, inbox, outbox) is kept, so a
# restarted demo goes on where it stopped; remove DEMO_DIR to start afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

build=${BUILD_DIR:-build}
demo=${DEMO_DIR:-/tmp/orv-demo}
port=${PORT:-8080}
sites=(north east south)

fail() {
  echo "demo_layout.sh: $*" >&2
  exit 1
}

bin=$(cd "$build" 2>/dev/null && pwd)/bin || fail "no build directory $build"
for program in orv vexil; do
  [ -x "$bin/$program" ] || fail "$bin/$program is not built"
done
case $port in '' | *[!0-9]*) fail "PORT must be a number, not '$port'" ;; esac

mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
case $demo/ in "$src"/*) fail "DEMO_DIR $demo lies inside the source tree" ;; esac
www=$demo/www
samples=$src/samples/site

# The manager names that a directory's pages call: the cgi values of their
# forms. Only plain file names are installed; anything else is reported.
cgi_names() {
  local name
  sed -n 's/^[[:space:]]*cgi[[:space:]]*=[[:space:]]*"\([^"]*\)".*$/\1/p' "$1"/*.zoaml |
    sort -u | while read -r name; do
      case $name in
        '' | *[!A-Za-z0-9_.-]* | .*) echo "demo_layout.sh: not installing cgi \"$name\"" >&2 ;;
        *) echo "$name" ;;
      esac
    done
}

# Installs a program under every manager name that the pages in $2 use, or
# under $3 when they name none.
install_manager() {
  local program=$1 pages=$2 fallback=$3 dir names name
  dir=$(dirname "$pages")
  dir=$(dirname "$dir")
  names=$(cgi_names "$pages")
  [ -n "$names" ] || names=$fallback
  for name in $names; do
    install -m 0755 "$program" "$dir/$name"
  done
}

# Copies a data file into a site only when the site does not have it yet.
keep_or_copy() {
  [ -e "$2" ] || install -m 0644 "$1" "$2"
}

lay_out_site() {
  local name=$1 dir=$www/$1 file
  local html=$dir/html
  mkdir -p "$html/zoaml" "$dir/S-Event_Data/Images"
  keep_or_copy "$samples/$name/config.txt" "$html/config.txt"
  keep_or_copy "$samples/site.config" "$html/site.config"
  keep_or_copy "$samples/kb.txt" "$html/kb.txt"
  # fg functions files (one per IC type) are part of the program's release.
  for file in "$samples"/*.in; do
    if [ -e "$file" ]; then install -m 0644 "$file" "$html/"; fi
  done
  # The sample transfer scripts deliver to the sibling directories of the
  # site, $www/*/html, which are exactly the three sites (the start page and
  # the click demo keep no config.txt, so they are never a target).
  install -m 0755 "$samples/orv_ftp_get.cmd" "$samples/orv_ftp_put.cmd" "$html/"
  install -m 0644 "$samples"/html/zoaml/* "$html/zoaml/"
  install -m 0644 scripts/demo/site_map.gif "$dir/S-Event_Data/Images/"
  install -m 0755 "$bin/vexil" "$dir/vexil.cgi"
  install_manager "$bin/orv" "$html/zoaml" orv.cgi
}

# The click demo: cellkit with its own pages and type files, when built.
# The start page shows a text that either leads there or says it is missing.
lay_out_cellkit() {
  local entry=$www/html/zoaml/cellkit_entry.txt dir=$www/cellkit file page name
  local kit=$src/samples/cellkit
  if [ ! -x "$bin/cellkit" ] || ! ls "$kit"/html/zoaml/*.zoaml >/dev/null 2>&1; then
    install -m 0644 scripts/demo/cellkit_missing.txt "$entry"
    return
  fi
  mkdir -p "$dir/html/zoaml"
  for file in "$kit"/*.in; do
    if [ -e "$file" ]; then install -m 0644 "$file" "$dir/html/"; fi
  done
  install -m 0644 "$kit"/html/zoaml/* "$dir/html/zoaml/"
  install -m 0755 "$bin/vexil" "$dir/vexil.cgi"
  install_manager "$bin/cellkit" "$dir/html/zoaml" cellkit.cgi
  {
    echo "<P>Each page below sends clicks to the cells of the click demo:</P>"
    echo "<UL>"
    for page in "$dir"/html/zoaml/*.zoaml; do
      name=$(basename "$page" .zoaml)
      echo "<LI><A HREF=\"cellkit/vexil.cgi?zoa_name=$name.zoaml\">$name</A></LI>"
    done
    echo "</UL>"
  } >"$entry"
  chmod 0644 "$entry"
}

for site in "${sites[@]}"; do
  lay_out_site "$site"
done

# The start page: a vexil page of its own at the top of the document root.
mkdir -p "$www/html/zoaml" "$www/S-Event_Data/Images"
install -m 0644 scripts/demo/start.zoaml scripts/demo/start.tpl \
  scripts/demo/cellkit_entry.zoaml "$samples/html/zoaml/site_map.zoaml" "$www/html/zoaml/"
install -m 0644 scripts/demo/site_map.gif "$www/S-Event_Data/Images/"
install -m 0644 scripts/demo/index.html "$www/index.html"
install -m 0755 "$bin/vexil" "$www/vexil.cgi"
lay_out_cellkit

cat >"$demo/lighttpd.conf" <<CONF
# Written by scripts/demo_layout.sh; start with: lighttpd -D -f $demo/lighttpd.conf
server.modules = ("mod_access", "mod_cgi")
server.document-root = "$www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$demo/error.log"
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html", ".gif" => "image/gif")
# Every .cgi file is a program; the server starts it in its own directory.
cgi.assign = (".cgi" => "")
cgi.execute-x-only = "enable"
# A site's html directory holds its configuration, cells, messages, scripts
# and page sources: the programs read them, the browser never does.
\$HTTP["url"] =~ "^/([^/]+/)?html(/|\$)" { url.access-deny = ("") }
CONF

# --- access control (AUTH=user:password) ---
# Every program but vexil.cgi changes a site, so each asks for a user; its
# password file lies beside the configuration, outside the document root.
# "(/|$)": a program is also reached by a longer path (/orv.cgi/x).
if [ -n "${AUTH:-}" ]; then
  case $AUTH in ?*:?*) ;; *) fail "AUTH must be user:password" ;; esac
  hash=$(printf '%s' "${AUTH#*:}" | openssl passwd -apr1 -stdin) || fail "openssl passwd failed"
  (umask 077 && printf '%s:%s\n' "${AUTH%%:*}" "$hash" >"$demo/htpasswd")
  # mod_auth goes before mod_cgi in the module list.
  sed -i 's/^server\.modules = ("mod_access", /&"mod_auth", "mod_authn_file", /' "$demo/lighttpd.conf"
  grep -q '"mod_auth"' "$demo/lighttpd.conf" || fail "no server.modules line for mod_auth"
  cat >>"$demo/lighttpd.conf" <<CONF
auth.backend = "htpasswd"
auth.backend.htpasswd.userfile = "$demo/htpasswd"
\$HTTP["url"] =~ "\\.cgi(/|\$)" {
  \$HTTP["url"] !~ "^/([^/]+/)?vexil\\.cgi(/|\$)" {
    auth.require = ("" => ("method" => "basic", "realm" => "orv demo", "require" => "valid-user"))
  }
}
CONF
else
  rm -f "$demo/htpasswd"
fi
# --- end access control ---

echo "Laid out the demo in $demo (port $port${AUTH:+, programs behind a password})"
