#!/bin/sh
# orv_ssh_serve.sh: the only thing a peer site's key may run on this
# machine. It is the forced command of the peer's line in the sites' user's
# ~/.ssh/authorized_keys, naming the site directories the peer may deliver
# to (each holds a site's programs and its html directory):
#
#   command="/srv/orv/east/html/orv_ssh_serve.sh --peer north /srv/orv/east",restrict,from="192.0.2.1" ssh-ed25519 AAAA... north
#
# `--peer ORV_ID` (written by `orvsite peer add`) names the site that owns
# the key: its link-in then takes only files sent under that orv id.
#
# sshd runs it for every login with that key, whatever the peer asked for,
# and passes the peer's command line in SSH_ORIGINAL_COMMAND. Exactly the
# commands of the sender's put script (orv_ftp_put.cmd) are served:
#
#   orv-deliver SITE/html
#       the delivery in one session: the message files come on standard
#       input, which `orvsite deliver` (when orvsite is on the PATH) or else
#       orv_ssh_link.sh beside this script stages within the site's staging
#       limits and links into SITE/html/inbox, by the same rules;
#
#   orv-deliver-batches SITE/html
#       the same by `orvsite deliver --batches` (only where orvsite is on
#       the PATH): one delivery after another in one session, which the
#       sender's `orvsite watch` keeps open while it runs;
#
# and the two commands of earlier put scripts (which this one still sends
# when ORV_RSYNC_OPTIONS is set, or to a peer that refuses orv-deliver):
#
#   rsync --server OPTIONS . SITE/html/.inbox-staging/
#       the copy of the message files into the site's staging directory,
#       run by rrsync, which keeps rsync inside that directory and lets it
#       only write there (no reading, no deleting); a symbolic link it
#       writes is made harmless (rsync's --munge-links) and never followed;
#   sh -s -- SITE/html TRANSFER_ID...
#       the link-in: orv_ssh_link.sh beside this script (never a script the
#       peer sends; what it sends on standard input is ignored) links the
#       named staged files into SITE/html/inbox.
#
# and `true`, which only tells that the login works. SITE must be one of the
# site directories of the forced command. Anything else is refused with one
# line on standard error and status 1.

set -u
me=orv_ssh_serve.sh
refuse() {
  echo "$me: refused: $*" >&2
  exit 1
}
# The directory of this script (a forced command names it by its full path).
case $0 in
  /*) here=${0%/*} ;;
  */*) here=$(cd "${0%/*}" && pwd) || exit 1 ;;
  *) here=$(pwd) || exit 1 ;;
esac
peer=""
if [ "${1-}" = --peer ]; then
  peer=${2-}
  case $peer in '' | *[!A-Za-z0-9_-]*) refuse "the forced command names no plain orv id after --peer" ;; esac
  shift 2
fi
[ $# -ge 1 ] || refuse "the forced command names no site directory"
sites=" $* "
command=${SSH_ORIGINAL_COMMAND-}

# The site directory of SITE/html (false when SITE is not one of ours).
site_of() {
  dir=${1%/html}
  [ "$dir/html" = "$1" ] || return 1
  case $dir in *[!A-Za-z0-9_.@/+~-]* | *//* | */./* | */../* | */. | */..) return 1 ;; esac
  case $sites in *" $dir "*) [ -d "$dir/html" ] ;; *) return 1 ;; esac
}

case $command in
  true)
    exit 0
    ;;
  "orv-deliver "*)
    set -f
    # shellcheck disable=SC2086 # split into words on purpose (no globbing)
    set -- ${command#"orv-deliver "}
    [ $# -eq 1 ] || refuse "the delivery names one html directory: $command"
    site_of "$1" || refuse "$1 is not the html directory of a site of this key"
    # orvsite, where it is installed, receives in one process by the same
    # rules (the shell's `command -v` starts nothing).
    if command -v orvsite >/dev/null 2>&1; then
      if [ -n "$peer" ]; then exec orvsite deliver --peer "$peer" "$1"; fi
      exec orvsite deliver "$1"
    fi
    if [ -n "$peer" ]; then set -- --peer "$peer" --stream "$1"; else set -- --stream "$1"; fi
    # The link-in runs in this shell, which ends with it (one process fewer
    # a delivery); it needs its globbing back.
    set +f
    . "$here/orv_ssh_link.sh"
    exit 1
    ;;
  "orv-deliver-batches "*)
    set -f
    # shellcheck disable=SC2086 # split into words on purpose (no globbing)
    set -- ${command#"orv-deliver-batches "}
    [ $# -eq 1 ] || refuse "the deliveries name one html directory: $command"
    site_of "$1" || refuse "$1 is not the html directory of a site of this key"
    # Only orvsite keeps a session for one delivery after another; a sender
    # told so sends each delivery in a session of its own (orv-deliver).
    command -v orvsite >/dev/null 2>&1 || refuse "orv-deliver-batches needs orvsite on this machine"
    if [ -n "$peer" ]; then exec orvsite deliver --batches --peer "$peer" "$1"; fi
    exec orvsite deliver --batches "$1"
    ;;
  "rsync --server "*)
    case $command in *" --sender"* | *"	"*) refuse "rsync may only write: $command" ;; esac
    dest=${command##* }
    options=${command% *}
    [ "${options##* }" = . ] || refuse "not the copy into a staging directory: $command"
    staging=${dest%/}
    html=${staging%/.inbox-staging}
    [ "$html" != "$staging" ] || refuse "rsync may only write into a site's .inbox-staging: $dest"
    site_of "$html" || refuse "$dest is not the staging directory of a site of this key"
    [ -d "$staging" ] || mkdir "$staging" || exit 1
    command -v rrsync >/dev/null 2>&1 || refuse "rrsync is not installed (Debian: package rsync)"
    # rrsync takes the destination relative to the directory it is kept in.
    SSH_ORIGINAL_COMMAND="$options ."
    export SSH_ORIGINAL_COMMAND
    exec rrsync -wo -munge -no-del -no-lock "$staging"
    ;;
  "sh -s -- "*)
    set -f
    # shellcheck disable=SC2086 # split into words on purpose (no globbing)
    set -- ${command#"sh -s -- "}
    [ $# -ge 1 ] || refuse "no site directory: $command"
    html=$1
    shift
    site_of "$html" || refuse "$html is not the html directory of a site of this key"
    [ $# -ge 1 ] || refuse "the link-in takes named files only: $command"
    for id in "$@"; do
      case $id in
        *[!A-Za-z0-9_.-]* | .*) refuse "no transfer id: $id" ;;
      esac
    done
    if [ -n "$peer" ]; then
      exec sh "$here/orv_ssh_link.sh" --peer "$peer" "$html" "$@" </dev/null
    fi
    exec sh "$here/orv_ssh_link.sh" "$html" "$@" </dev/null
    ;;
  *)
    refuse "this key only delivers messages, it does not run: $command"
    ;;
esac
