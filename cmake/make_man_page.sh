#!/usr/bin/env bash
# Makes the manual page of one program from its own --help and --version
# text (help2man), with the sections --help does not give (FILES, EXIT
# STATUS, SEE ALSO, ...) from an include file, and compresses it as Debian
# installs manual pages.
#   make_man_page.sh HELP2MAN PROGRAM SECTION NAME INCLUDE OUTPUT.gz [--commands]
# --commands: the program takes commands (PROGRAM COMMAND --help); a
# COMMANDS section holds each command's --help text as it prints it. The
# commands are those listed under "Commands:" in PROGRAM --help.
set -euo pipefail
help2man=$1 program=$2 section=$3 name=$4 include=$5 output=$6
commands=${7:-}
export LC_ALL=C
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

includes=(--include "$include")
if [ "$commands" = --commands ]; then
  {
    echo '[COMMANDS]'
    for command in $("$program" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' | uniq); do
      # A command without --help of its own is left out (and said so)
      # rather than failing the build.
      if ! text=$("$program" "$command" --help 2>/dev/null); then
        echo "make_man_page.sh: $(basename "$program") $command --help failed: left out of the page" >&2
        continue
      fi
      echo ".SS \"$(basename "$program") $command\""
      echo '.nf'
      # The text as printed: backslashes and control characters at a line's
      # start are escaped, so roff shows them.
      printf '%s\n' "$text" | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
      echo '.fi'
    done
  } >"$work/commands.h2m"
  includes+=(--include "$work/commands.h2m")
fi

page=$work/$(basename "${output%.gz}")
"$help2man" --no-info --section "$section" --name "$name" "${includes[@]}" \
  --output "$page" "$program"
gzip -9n <"$page" >"$output.tmp"
mv "$output.tmp" "$output"
