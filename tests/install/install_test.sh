#!/usr/bin/env bash
# Install test: `cmake --install` into a temporary prefix, then lay out a
# site with the installed orvsite alone (the build tree and the source tree
# are not looked at) and send it a request as a web server would.
# Then the Debian package of the same build: the same files below /usr, its
# dependencies declared, the service naming the packaged orvsite.
#   install_test.sh BUILD_DIR CMAKE CPACK
set -euo pipefail
build=$1
cmake=${2:-cmake}
cpack=${3:-cpack}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
  echo "install test: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f | sort)
# Nothing is installed outside the prefix.
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt" || true)
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
for f in bin/orvsite bin/tagwell libexec/index-cells/orv libexec/index-cells/vexil \
  libexec/index-cells/cellkit share/index-cells/samples/site/VANTLE.in \
  share/index-cells/samples/site/html/zoaml/orv_manager.zoaml \
  share/index-cells/images/site_map.gif share/doc/index-cells/README.md; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done

for f in operator.md formats.md developer.md; do
  [ -e "$prefix/share/doc/index-cells/docs/$f" ] || fail "docs/$f is not installed"
done

# The manual pages (made when help2man was found at configure time): each
# installed, rendered by man without a warning, with its sections; orvsite's
# with the text of every command.
if grep -q '^HELP2MAN:FILEPATH=.*help2man$' "$build/CMakeCache.txt"; then
  for page in man8/orvsite.8 man1/orv.1 man1/cellkit.1 man1/vexil.1 man1/tagwell.1; do
    file=$prefix/share/man/$page.gz
    [ -e "$file" ] || fail "the manual page $page is not installed"
    MANWIDTH=80 man --warnings -l "$file" >"$work/man.out" 2>"$work/man.err" ||
      fail "man -l $page failed: $(cat "$work/man.err")"
    [ ! -s "$work/man.err" ] || fail "man -l $page warns: $(cat "$work/man.err")"
    zcat "$file" | groff -ww -z -man 2>"$work/man.err"
    [ ! -s "$work/man.err" ] || fail "groff warns about $page: $(cat "$work/man.err")"
    for section in NAME SYNOPSIS DESCRIPTION FILES 'EXIT STATUS' 'SEE ALSO'; do
      grep -qx "$section" "$work/man.out" || fail "$page has no $section section"
    done
  done
  MANWIDTH=80 man -l "$prefix/share/man/man8/orvsite.8.gz" >"$work/man.out" 2>/dev/null
  for command in new check state prune exchange; do
    grep -q "^   orvsite $command\$" "$work/man.out" || fail "orvsite(8) does not describe orvsite $command"
  done
  grep -qF 'Exit status: 0, or 1 when DIR is not a site' "$work/man.out" ||
    fail "orvsite(8) lacks the text of orvsite exchange --help"
fi

# The installed programs may be moved as a whole: orvsite finds its
# programs and samples relative to itself.
mv "$prefix" "$work/moved"
prefix=$work/moved

"$prefix/bin/orvsite" --version | grep -qx 'orvsite [0-9]*\.[0-9]*\.[0-9]*' || fail "orvsite --version"
"$prefix/bin/orvsite" new "$work/site" --server-id srv9 --orv-id north >"$work/new.out" ||
  fail "orvsite new failed: $(cat "$work/new.out")"
[ -x "$work/site/orv.cgi" ] && [ -x "$work/site/vexil.cgi" ] || fail "no programs in the site"
cmp -s "$prefix/libexec/index-cells/orv" "$work/site/orv.cgi" || fail "orv.cgi is not the installed orv"

page=$(cd "$work/site" && env -i REQUEST_METHOD=GET \
  QUERY_STRING='message_type=MSG_SHOW_CONFIG&flag=orv' ./orv.cgi)
case $page in
  *"SERVER ID = srv9"*"ORV ID = north"*) ;;
  *) fail "the new site's manager answered: $page" ;;
esac
# A request for cells, as the manager page's create form sends it: the
# sample site table lists north, so the new vantle is made and stored.
form='flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9'
form+='&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave'
form+='&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name'
form+='&doc_id=d1&i_am=physics%23%21&i_love=%21&i_hate=%21&i_behave=%21'
form+='&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=Archives&sym_name=v1'
page=$(cd "$work/site" && env -i REQUEST_METHOD=GET QUERY_STRING="$form" ./orv.cgi) ||
  fail "a request for cells failed: $page"
case $page in
  *"vantle(1)=doc {d1}"*) ;;
  *) fail "the new site did not make the vantle: $page" ;;
esac
[ -s "$work/site/html/file.ic" ] || fail "the new vantle was not stored"
page=$(cd "$work/site" && env -i REQUEST_METHOD=GET QUERY_STRING='zoa_name=orv_manager' ./vexil.cgi)
case $page in
  *'ACTION="orv.cgi"'*) ;;
  *) fail "the manager page does not send to orv.cgi: $page" ;;
esac
"$prefix/bin/orvsite" check "$work/site" >"$work/check.out" || fail "check: $(cat "$work/check.out")"

# The Debian package (dpkg-deb and dpkg-shlibdeps come with dpkg-dev, which
# scripts/deps.sh installs).
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.out" 2>&1 ||
  fail "cpack -G DEB failed: $(cat "$work/cpack.out")"
deb=$(ls "$work"/package/*.deb)
dpkg-deb -x "$deb" "$work/root"
# (the configuration below /etc, where /usr's belongs)
[ "$(cd "$work/root" && find . -type f | sort)" = \
  "$(echo "$installed" | sed -e 's|^\./|./usr/|' -e 's|^\./usr/etc/|./etc/|' | sort)" ] ||
  fail "the package does not hold what cmake --install installs below /usr"
dpkg-deb -I "$deb" conffiles | grep -qx /etc/logrotate.d/index-cells ||
  fail "the package does not keep its logrotate configuration as a conffile"
dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=' || fail "the package declares no dependency on libc6"
grep -qx 'ExecStart=/usr/bin/orvsite exchange --keep 500 %f' \
  "$work/root/usr/lib/systemd/system/orv-exchange@.service" || fail "the packaged service does not run /usr/bin/orvsite"
"$work/root/usr/bin/orvsite" new "$work/deb-site" --server-id srv8 --orv-id east >/dev/null ||
  fail "the packaged orvsite cannot lay out a site"
cmp -s "$work/root/usr/libexec/index-cells/orv" "$work/deb-site/orv.cgi" || fail "the packaged site's orv.cgi"

# What Debian asks of a package: a maintainer who can be reached, no
# declared dependency on an essential package, a long description, the
# copyright file and the changelog of this version (gzip -9n).
control() { dpkg-deb -f "$deb" "$1"; }
maintainer=$(sed -n 's/^PACKAGE_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")
[ -n "$maintainer" ] && [ "$(control Maintainer)" = "$maintainer" ] ||
  fail "the package's maintainer is \"$(control Maintainer)\", not PACKAGE_MAINTAINER \"$maintainer\""
case ", $(control Depends)," in
  *", coreutils"[,\ ]* | *", sed"[,\ ]*) fail "the package depends on an essential package: $(control Depends)" ;;
esac
[ "$(control Description | wc -l)" -gt 5 ] || fail "the package has no long description"
doc=$work/root/usr/share/doc/index-cells
head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in the machine-readable format"
gzip -t "$doc/changelog.gz" || fail "the changelog is not gzipped"
zcat "$doc/changelog.gz" | head -n 1 | grep -q "^index-cells ($(control Version)) " ||
  fail "the changelog's first entry is not for version $(control Version)"
# Lintian, when installed, on a build made to be shipped (the sanitizer and
# fuzz builds are not): no error and no warning, pedantic tags included.
if ! command -v lintian >/dev/null; then
  echo "install test: lintian is not installed; the package was not linted"
elif grep -Eq '^(SANITIZE|FUZZ):BOOL=ON$|^HARDENING:BOOL=OFF$' "$build/CMakeCache.txt"; then
  echo "install test: not a build to ship (sanitizers, fuzzing or no hardening); the package was not linted"
else
  lintian --pedantic --fail-on error,warning --no-tag-display-limit "$deb" >"$work/lintian.out" 2>&1 ||
    fail "lintian finds errors or warnings: $(grep -v '^running with root' "$work/lintian.out")"
fi

# An upgrade: a site linked over SSH holds the SSH transfer scripts and the
# forced command of an older release, its key, known hosts and host map,
# settings of its own and cells. `orvsite new --update` of the new package
# brings the four scripts to the package's and keeps everything else.
html=$work/deb-site/html
shipped=$work/root/usr/share/index-cells/samples/site/ssh
for f in orv_ftp_get.cmd orv_ftp_put.cmd orv_ssh_link.sh orv_ssh_serve.sh; do
  sed -e '2i # (an older release)' "$shipped/$f" >"$html/$f"
  chmod 0755 "$html/$f"
done
mkdir -m 0700 "$html/ssh"
echo "private key" >"$html/ssh/id_ed25519"
echo "[north.example.org]:22 ssh-ed25519 AAAA" >"$html/ssh/known_hosts"
echo "north  www-data@north.example.org  /srv/orv/north" >"$html/orv_hosts"
sed -i 's/^retrieval threshold: .*/retrieval threshold: 2/' "$html/config.txt"
page=$(cd "$work/deb-site" && env -i REQUEST_METHOD=GET QUERY_STRING="${form/doc_id=d1/doc_id=d2}" ./orv.cgi) ||
  fail "a request for cells at the packaged site failed: $page"
(cd "$html" && sha256sum config.txt site.config kb.txt file.ic name_db orv_hosts ssh/id_ed25519 \
  ssh/known_hosts) >"$work/data.sums"
"$work/root/usr/bin/orvsite" new "$work/deb-site" --update >"$work/update.out" 2>&1 ||
  fail "orvsite new --update failed: $(cat "$work/update.out")"
for f in orv_ftp_get.cmd orv_ftp_put.cmd orv_ssh_link.sh orv_ssh_serve.sh; do
  cmp -s "$shipped/$f" "$html/$f" || fail "the update did not bring $f to the package's SSH script"
  [ -x "$html/$f" ] || fail "$f is not executable after the update"
done
(cd "$html" && sha256sum --quiet -c "$work/data.sums") >"$work/sums.out" 2>&1 ||
  fail "the update changed the site's data: $(cat "$work/sums.out")"
echo "install test: passed"
