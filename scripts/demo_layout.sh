#!/usr/bin/env bash
# Lays out the demo under DEMO_DIR: the sample sites (orv ids north, east
# and south, or the sites named by SITES), the start page and the map made
# from those sites and, once the program exists, the cellkit click demo;
# writes a lighttpd configuration that serves them on 127.0.0.1:PORT.
# It does not start the server: scripts/demo.sh does, and so do the browser
# tests, each with a fresh DEMO_DIR on a free port.
#   BUILD_DIR  the build tree whose bin/ holds the programs (default build)
#   DEMO_DIR   where the demo is laid out (default /tmp/orv-demo); it must
#              lie outside the source tree
#   PORT       the port written into the configuration (default 8080)
#   SITES      the sites to lay out, by directory name (default
#              "north east south"); a site directory that already holds
#              html/config.txt below DEMO_DIR/www is laid out too
#   AUTH       user:password switches on HTTP basic authentication for the
#              programs that change a site (default: off)
#
#   DEMO_DIR/lighttpd.conf, error.log, programs.log (the programs' standard error)
#   DEMO_DIR/www/                   document root
#     index.html                    sends the browser on to the start page
#     vexil.cgi, html/zoaml/        the start page
#     S-Event_Data/Images/          the map of the sites
#     north/ east/ south/ ...       one site each:
#       vexil.cgi, orv.cgi          the programs under the names its pages use
#       S-Event_Data/Images/        the images its pages show
#       html/                       the site's files (never served)
#     cellkit/                      the click demo (when it is built)
#
# A site without a sample config.txt (samples/site/<name>/) gets one with
# its directory name as orv id and the next free server id srvN. Every
# site's site.config names all the sites of the demo: one that does not is
# written anew with the distances already known (the sites' own files, then
# the sample file) and NEW_SITE_DISTANCE (default 5) for the pairs that no
# file knows.
#
# Programs, pages and transfer scripts are replaced on every run; the
# sample pages' @ORV_ID@ and @SERVER_ID@ become the site's own ids (from its
# config.txt). A site's data (config.txt, site.config, kb.txt, cells,
# inbox, outbox) is kept, so a restarted demo goes on where it stopped;
# remove DEMO_DIR to start afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

build=${BUILD_DIR:-build}
demo=${DEMO_DIR:-/tmp/orv-demo}
port=${PORT:-8080}
new_distance=${NEW_SITE_DISTANCE:-5}
read -r -a sites <<<"${SITES:-north east south}"

fail() {
  echo "demo_layout.sh: $*" >&2
  exit 1
}

bin=$(cd "$build" 2>/dev/null && pwd)/bin || fail "no build directory $build"
for program in orv vexil orvsite; do
  [ -x "$bin/$program" ] || fail "$bin/$program is not built"
done
case $port in '' | *[!0-9]*) fail "PORT must be a number, not '$port'" ;; esac
case $new_distance in '' | *[!0-9]* | 0) fail "NEW_SITE_DISTANCE must be a positive number" ;; esac

mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
case $demo/ in "$src"/*) fail "DEMO_DIR $demo lies inside the source tree" ;; esac
www=$demo/www
samples=$src/samples/site
pages=$src/scripts/demo

# The sites laid out by hand (or by an earlier run) join the named ones.
for found in "$www"/*/html/config.txt; do
  [ -e "$found" ] || continue
  found=${found%/html/config.txt}
  found=${found##*/}
  case " ${sites[*]} " in *" $found "*) ;; *) sites+=("$found") ;; esac
done
[ ${#sites[@]} -gt 0 ] || fail "SITES names no site"
for site in "${sites[@]}"; do
  case $site in
    html | cellkit | S-Event_Data | '' | *[!A-Za-z0-9_-]* | -*)
      fail "'$site' cannot be a site directory (letters, digits, _ and -; not html or cellkit)" ;;
  esac
done

# The value of a "label: value" line of a site's config.txt.
config_value() {
  tr -d '\r' <"$1" | sed -n "s/^$2: *//p" | sed 's/[[:space:]]*$//' | head -n 1
}

lower() { printf '%s' "$1" | tr '[:upper:]' '[:lower:]'; }

# Text made safe as the replacement of a sed s command.
sed_text() { printf '%s' "$1" | sed 's/[\\/&]/\\&/g'; }

# The names a site.config lists, one a line, in letters of one case.
site_config_names() {
  tr -d '\r' <"$1" | awk '{ for (i = 1; i <= NF; i++) t[++n] = $i }
    END { for (e = 0; e < t[1]; e++) print tolower(t[3 + 2 * e]) }'
}

# The distances of a site.config as "from to distance" lines.
site_config_pairs() {
  tr -d '\r' <"$1" | awk '{ for (i = 1; i <= NF; i++) t[++n] = $i }
    END {
      c = t[1]; k = 1
      for (e = 0; e < c; e++) { idx = t[++k]; name[idx] = tolower(t[++k]) }
      for (i = 0; i < c; i++) for (j = 0; j < c; j++) print name[i], name[j], t[++k]
    }'
}

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

# The config.txt of every site: kept, or the sample one, or a new one with
# the next server id srvN that no site uses.
declare -A orv_id server_id threshold
for site in "${sites[@]}"; do
  mkdir -p "$www/$site/html"
  if [ -e "$samples/$site/config.txt" ] && [ ! -e "$www/$site/html/config.txt" ]; then
    install -m 0644 "$samples/$site/config.txt" "$www/$site/html/config.txt"
  fi
done
for site in "${sites[@]}"; do
  config=$www/$site/html/config.txt
  if [ ! -e "$config" ]; then
    n=1
    while cat "$www"/*/html/config.txt 2>/dev/null | tr -d '\r' | grep -qx "server id: srv$n"; do
      n=$((n + 1))
    done
    printf '%s\n' "server id: srv$n" "orv id: $site" "retrieval threshold: 1" \
      "virtual site distance threshold: 9" "max. vantle# threshold: 3" \
      "email address: NULL" >"$config"
    chmod 0644 "$config"
  fi
  orv_id[$site]=$(config_value "$config" "orv id")
  server_id[$site]=$(config_value "$config" "server id")
  threshold[$site]=$(config_value "$config" "virtual site distance threshold")
  [ -n "${orv_id[$site]}" ] || fail "$config names no orv id"
done
ids=$(for site in "${sites[@]}"; do lower "${orv_id[$site]}"; echo; done | sort)
[ -z "$(uniq -d <<<"$ids")" ] || fail "two sites share an orv id: $(uniq -d <<<"$ids" | tr '\n' ' ')"

# The distance of every pair of sites: the sites' own site.config first,
# then the sample one, then NEW_SITE_DISTANCE.
declare -A distance
for file in "${sites[@]/#/$www/}"; do
  file=$file/html/site.config
  [ -e "$file" ] || continue
  while read -r from to d; do
    case $d in '' | *[!0-9]*) continue ;; esac
    [ -n "${distance[$from|$to]:-}" ] || distance[$from|$to]=$d
  done < <(site_config_pairs "$file")
done
while read -r from to d; do
  [ -n "${distance[$from|$to]:-}" ] || distance[$from|$to]=$d
done < <(site_config_pairs "$samples/site.config")
distance_of() {
  local from to
  from=$(lower "$1")
  to=$(lower "$2")
  if [ "$from" = "$to" ]; then echo 0; else echo "${distance[$from|$to]:-$new_distance}"; fi
}

# A site.config that names every site of the demo, in the order of the sites.
write_site_config() {
  local i=0 from to row
  echo "${#sites[@]}"
  for from in "${sites[@]}"; do
    echo "$i ${orv_id[$from]}"
    i=$((i + 1))
  done
  for from in "${sites[@]}"; do
    row=()
    for to in "${sites[@]}"; do row+=("$(distance_of "${orv_id[$from]}" "${orv_id[$to]}")"); done
    echo "${row[*]}"
  done
}

# A site's release (programs, fg functions files, transfer scripts, pages
# with the site's ids, images) comes from the operator's command, as for
# any site; the demo adds its table of sites and its own map.
lay_out_site() {
  local name=$1 dir=$www/$1
  local html=$dir/html kb=()
  if [ ! -e "$html/site.config" ] || [ "$(site_config_names "$html/site.config" | sort)" != "$ids" ]; then
    write_site_config >"$html/site.config"
    chmod 0644 "$html/site.config"
  fi
  # The sample transfer scripts deliver to the sibling directories of the
  # site, $www/*/html, which are exactly the sites (the start page and the
  # click demo keep no config.txt, so they are never a target).
  [ -e "$html/kb.txt" ] || kb=(--kb "$samples/kb.txt")
  "$bin/orvsite" new "$dir" --update "${kb[@]}" >/dev/null
  sed -e "s/@ORV_ID@/$(sed_text "${orv_id[$name]}")/g" \
    -e "s/@SERVER_ID@/$(sed_text "${server_id[$name]}")/g" "$pages/site_map.zoaml" \
    >"$html/zoaml/site_map.zoaml"
  install -m 0644 "$demo/site_map.svg" "$dir/S-Event_Data/Images/"
  # The manager page shows the demo's map, drawn from the sites' tables.
  sed -i 's#S-Event_Data/Images/site_map\.gif#S-Event_Data/Images/site_map.svg#' "$html/zoaml/orv_manager.tpl"
}

# The sites that `from` sends queries to: those closer than its virtual
# site distance threshold in its own site.config.
asked_sites() {
  local from=$1 own f to d site
  own=$(lower "${orv_id[$from]}")
  while read -r f to d; do
    [ "$f" = "$own" ] || continue
    case $d in '' | *[!0-9]*) continue ;; esac
    if [ "$d" -gt 0 ] && [ "$d" -lt "${threshold[$from]:-0}" ]; then
      for site in "${sites[@]}"; do
        if [ "$(lower "${orv_id[$site]}")" = "$to" ]; then echo "${orv_id[$site]}"; fi
      done
    fi
  done < <(site_config_pairs "$www/$from/html/site.config")
}

# Words joined as "a", "a and b", "a, b and c".
join_words() {
  local out="" i
  for ((i = 1; i <= $#; i++)); do
    if [ "$i" -eq 1 ]; then out=${!i}
    elif [ "$i" -eq $# ]; then out="$out and ${!i}"
    else out="$out, ${!i}"; fi
  done
  printf '%s' "$out"
}

# The map: the sites on a ring, a line between each two with their
# distance, solid where a query goes, dashed where the sites are too far.
write_map() {
  local from to i j d e asks
  {
    for from in "${sites[@]}"; do echo "site ${orv_id[$from]}"; done
    for ((i = 0; i < ${#sites[@]}; i++)); do
      for ((j = i + 1; j < ${#sites[@]}; j++)); do
        from=${sites[i]}
        to=${sites[j]}
        asks=0
        d=$(distance_of "${orv_id[$from]}" "${orv_id[$to]}")
        e=$(distance_of "${orv_id[$to]}" "${orv_id[$from]}")
        if { [ "$d" -gt 0 ] && [ "$d" -lt "${threshold[$from]:-0}" ]; } ||
          { [ "$e" -gt 0 ] && [ "$e" -lt "${threshold[$to]:-0}" ]; }; then asks=1; fi
        [ "$d" = "$e" ] || d="$d/$e"
        echo "pair $i $j $d $asks"
      done
    done
  } | awk -f "$pages/site_map.awk"
}

write_map >"$demo/site_map.svg"
for site in "${sites[@]}"; do
  lay_out_site "$site"
done

# The click demo: cellkit with its own pages and type files, when built.
# The start page shows a text that either leads there or says it is missing.
lay_out_cellkit() {
  local entry=$www/html/zoaml/cellkit_entry.txt dir=$www/cellkit file page name
  local kit=$src/samples/cellkit
  if [ ! -x "$bin/cellkit" ] || ! ls "$kit"/html/zoaml/*.zoaml >/dev/null 2>&1; then
    install -m 0644 "$pages/cellkit_missing.txt" "$entry"
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

# The start page: a vexil page of its own at the top of the document root,
# its texts and its box of forms per site made from the sites.
number_words=(no one two three four five six seven eight nine ten eleven twelve)
count=${#sites[@]}
if [ "$count" -lt ${#number_words[@]} ]; then count_word=${number_words[count]}; else count_word=$count; fi
if [ "$count" -eq 1 ]; then title="One virtual site"; else title="${count_word^} virtual sites"; fi
names=()
for site in "${sites[@]}"; do names+=("<STRONG>${orv_id[$site]}</STRONG>"); done
pairs=()
for ((i = 0; i < count; i++)); do
  for ((j = i + 1; j < count; j++)); do
    pairs+=("${orv_id[${sites[i]}]}&ndash;${orv_id[${sites[j]}]} $(distance_of "${orv_id[${sites[i]}]}" "${orv_id[${sites[j]}]}")")
  done
done
asks=()
first=${sites[0]}
partner=${sites[1]:-${sites[0]}}
for site in "${sites[@]}"; do
  mapfile -t near < <(asked_sites "$site")
  if [ ${#near[@]} -eq 0 ]; then
    asks+=("${orv_id[$site]} asks no site")
  else
    asks+=("${orv_id[$site]} asks $(join_words "${near[@]}")")
  fi
  if [ "$site" = "$first" ] && [ ${#near[@]} -gt 0 ]; then
    for other in "${sites[@]}"; do
      if [ "${orv_id[$other]}" = "${near[0]}" ]; then partner=$other; fi
    done
  fi
done

mkdir -p "$www/html/zoaml" "$www/S-Event_Data/Images"
substitute_start() {
  sed -e "s/@TITLE@/$(sed_text "$title")/g" \
    -e "s/@COUNT@/$(sed_text "$count_word")/g" \
    -e "s/@SITES@/$(sed_text "$(join_words "${names[@]}")")/g" \
    -e "s/@DISTANCES@/$(sed_text "$(join_words "${pairs[@]}")")/g" \
    -e "s/@ASKS@/$(sed_text "$(IFS=';'; echo "${asks[*]}" | sed 's/;/; /g')")/g" \
    -e "s/@FIRST@/$(sed_text "${orv_id[$first]}")/g" \
    -e "s/@FIRST_DIR@/$(sed_text "$first")/g" \
    -e "s/@PARTNER@/$(sed_text "${orv_id[$partner]}")/g" "$1"
}
substitute_start "$pages/start.tpl" >"$www/html/zoaml/start.tpl"
substitute_start "$pages/index.html" >"$www/index.html"
for site in "${sites[@]}"; do
  sed -e "s/@DIR@/$(sed_text "$site")/g" \
    -e "s/@ORV_ID@/$(sed_text "${orv_id[$site]}")/g" \
    -e "s/@SERVER_ID@/$(sed_text "${server_id[$site]}")/g" "$pages/site_box.html"
done >"$www/html/zoaml/sites.txt"
install -m 0644 "$pages/start.zoaml" "$pages/sites.zoaml" "$pages/cellkit_entry.zoaml" \
  "$pages/site_map.zoaml" "$www/html/zoaml/"
# The start page shows the sites' answers with the sites' own script.
install -m 0644 "$samples/html/zoaml/answer_view.zoaml" "$samples/html/zoaml/answer_view.js" \
  "$samples/html/zoaml/auth_note.zoaml" "$www/html/zoaml/"
install -m 0755 "$pages/waiting.cgi" "$www/waiting.cgi"
chmod 0644 "$www/html/zoaml/start.tpl" "$www/html/zoaml/sites.txt" "$www/index.html"
install -m 0644 "$demo/site_map.svg" "$www/S-Event_Data/Images/"
install -m 0755 "$bin/vexil" "$www/vexil.cgi"
lay_out_cellkit

cat >"$demo/lighttpd.conf" <<CONF
# Written by scripts/demo_layout.sh; start with: lighttpd -D -f $demo/lighttpd.conf
server.modules = ("mod_access", "mod_cgi", "mod_setenv")
server.document-root = "$www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$demo/error.log"
# What the programs and their transfer scripts write to standard error
# (lighttpd keeps it out of its own error log).
server.breakagelog = "$demo/programs.log"
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html; charset=utf-8", ".gif" => "image/gif", ".svg" => "image/svg+xml")
# Every .cgi file is a program; the server starts it in its own directory.
cgi.assign = (".cgi" => "")
cgi.execute-x-only = "enable"
# The programs write UTF-8 pages and name no character set: the server does,
# except for an answer in values (asked for with Accept: application/json).
\$HTTP["url"] =~ "\\.cgi\$" {
  \$REQUEST_HEADER["Accept"] !~ "application/json" { setenv.set-response-header = ("Content-Type" => "text/html; charset=utf-8") }
}
# A site's html directory holds its configuration, cells, messages, scripts
# and page sources: the programs read them, the browser never does.
\$HTTP["url"] =~ "^/([^/]+/)?html(/|\$)" { url.access-deny = ("") }
CONF

# Access control (AUTH=user:password).
# Every program but vexil.cgi and waiting.cgi (which only count files)
# changes a site, so each asks for a user; its password file lies beside the
# configuration, outside the document root. "(/|$)": a program is also
# reached by a longer path (/orv.cgi/x). The pages say so (auth_note.txt),
# and a refused login gets a page of the demo (status-401.html) instead of
# the server's bare one.
auth_note_start=""
auth_note_site=""
if [ -n "${AUTH:-}" ]; then
  auth_note_start="<P CLASS=\"auth\" ID=\"auth-note\">The site programs ask for a user name and password (user <CODE>${AUTH%%:*}</CODE>): every button that sends to a site, and the carry button, needs it. Your browser asks once and then remembers it.</P>"
  auth_note_site="<P CLASS=\"auth\" ID=\"auth-note\">This site asks for its user name and password (user <CODE>${AUTH%%:*}</CODE>): the forms of this page change the site or read it through its program, so each needs the password. Your browser asks once and then remembers it.</P>"
fi
printf '%s\n' "$auth_note_start" >"$www/html/zoaml/auth_note.txt"
chmod 0644 "$www/html/zoaml/auth_note.txt"
for site in "${sites[@]}"; do
  printf '%s\n' "$auth_note_site" >"$www/$site/html/zoaml/auth_note.txt"
  chmod 0644 "$www/$site/html/zoaml/auth_note.txt"
done
if [ -n "${AUTH:-}" ]; then
  case $AUTH in ?*:?*) ;; *) fail "AUTH must be user:password" ;; esac
  hash=$(printf '%s' "${AUTH#*:}" | openssl passwd -apr1 -stdin) || fail "openssl passwd failed"
  (umask 077 && printf '%s:%s\n' "${AUTH%%:*}" "$hash" >"$demo/htpasswd")
  # mod_auth goes before mod_cgi in the module list.
  sed -i 's/^server\.modules = ("mod_access", /&"mod_auth", "mod_authn_file", /' "$demo/lighttpd.conf"
  grep -q '"mod_auth"' "$demo/lighttpd.conf" || fail "no server.modules line for mod_auth"
  cat >>"$demo/lighttpd.conf" <<CONF
server.errorfile-prefix = "$demo/status-"
auth.backend = "htpasswd"
auth.backend.htpasswd.userfile = "$demo/htpasswd"
\$HTTP["url"] =~ "\\.cgi(/|\$)" {
  \$HTTP["url"] !~ "^/(([^/]+/)?vexil|waiting)\\.cgi(/|\$)" {
    auth.require = ("" => ("method" => "basic", "realm" => "orv demo", "require" => "valid-user"))
  }
}
CONF
  install -m 0644 "$pages/status-401.html" "$demo/status-401.html"
else
  rm -f "$demo/htpasswd" "$demo/status-401.html"
fi

echo "Laid out the demo in $demo (port $port${AUTH:+, programs behind a password}): sites ${sites[*]}"
