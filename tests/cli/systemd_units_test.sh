#!/usr/bin/env bash
# Every systemd unit shipped (scripts/systemd) passes `systemd-analyze
# verify` without a complaint, for one instance (a site directory), with
# the service written as the install writes it. Skipped (status 77) where
# systemd-analyze is missing.
#   systemd_units_test.sh ORVSITE SOURCE_DIR
set -uo pipefail
orvsite=$1
units=$2/scripts/systemd
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze: skipped"; exit 77; }
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-units-test

sed "s|@ORVSITE@|$orvsite|g" "$units/orv-exchange@.service.in" >"$t/orv-exchange@.service"
shipped=("$t/orv-exchange@.service")
for unit in "$units"/*; do
  case $unit in *.in) continue ;; esac
  cp "$unit" "$t/"
  shipped+=("$t/${unit##*/}")
done
# An instance of each template, for the site directory /srv/orv/north.
instance=$(systemd-escape --path /srv/orv/north)
checked=()
for unit in "${shipped[@]}"; do
  name=${unit##*/}
  ln -s "$name" "$t/${name/@./@$instance.}"
  checked+=("$t/${name/@./@$instance.}")
done
[ "${#checked[@]}" -ge 3 ] || { echo "FAILED: expected the service, timer and path units" >&2; exit 1; }
systemd-analyze verify --man=no "${checked[@]}" >"$t/out" 2>&1
status=$?
if [ "$status" -ne 0 ] || [ -s "$t/out" ]; then
  echo "FAILED: systemd-analyze verify (status $status):" >&2
  cat "$t/out" >&2
  exit 1
fi
echo "systemd_units_test.sh: ${#checked[@]} units verified"
