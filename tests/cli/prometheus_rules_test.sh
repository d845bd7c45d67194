#!/usr/bin/env bash
# The shipped alerting rules: promtool reads them, and the alerts fire on
# the metrics of orvsite status (names and labels as it writes them).
#   prometheus_rules_test.sh SOURCE_DIR
set -uo pipefail
rules=$1/scripts/prometheus/orvsite.rules.yml
if ! command -v promtool >/dev/null; then
  echo "prometheus_rules_test.sh: promtool is missing (Debian: prometheus; bash scripts/deps.sh test): skipped" >&2
  exit 77
fi
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
test_dir orv-rules-test
promtool check rules "$rules" || exit 1
cp "$rules" "$t/rules.yml"
cat >"$t/test.yml" <<'YML'
rule_files: [rules.yml]
evaluation_interval: 1m
tests:
  - interval: 1m
    input_series:
      - series: 'orvsite_lock_held_seconds{dir="/srv/orv/east",site="east",lock="html/run.lock"}'
        values: '60 120 400 460'
      - series: 'orvsite_lock_held_limit_seconds{dir="/srv/orv/east",site="east"}'
        values: '300 300 300 300'
      - series: 'orvsite_free_bytes{dir="/srv/orv/east",site="east"}'
        values: '500000000 50000000 50000000 50000000'
      - series: 'orvsite_free_bytes_limit{dir="/srv/orv/east",site="east"}'
        values: '104857600 104857600 104857600 104857600'
      - series: 'orvsite_exchange_died{dir="/srv/orv/east",site="east"}'
        values: '0 0 1 1'
      - series: 'orvsite_cut_send_files{dir="/srv/orv/east",site="east"}'
        values: '1 1 1 0'
      - series: 'orvsite_cut_send_oldest_age_seconds{dir="/srv/orv/east",site="east"}'
        values: '10 70 130 0'
      - series: 'orvsite_cut_send_limit_seconds{dir="/srv/orv/east",site="east"}'
        values: '60 60 60 60'
    alert_rule_test:
      - eval_time: 1m
        alertname: OrvLockHeldTooLong
        exp_alerts: []
      - eval_time: 3m
        alertname: OrvLockHeldTooLong
        exp_alerts:
          - exp_labels: {severity: critical, dir: /srv/orv/east, site: east, lock: html/run.lock}
            exp_annotations:
              summary: "html/run.lock of /srv/orv/east held for 460 s"
              description: "The holder's pid is in orvsite_lock_holder_pid."
      - eval_time: 0m
        alertname: OrvDiskAlmostFull
        exp_alerts: []
      - eval_time: 2m
        alertname: OrvDiskAlmostFull
        exp_alerts:
          - exp_labels: {severity: critical, dir: /srv/orv/east, site: east}
            exp_annotations:
              summary: "The disk of /srv/orv/east has 47.68MiB free"
      - eval_time: 0m
        alertname: OrvCutSendWaiting
        exp_alerts: []
      - eval_time: 2m
        alertname: OrvCutSendWaiting
        exp_alerts:
          - exp_labels: {severity: warning, dir: /srv/orv/east, site: east}
            exp_annotations:
              summary: "/srv/orv/east holds a send cut short in html/.outbox-local"
              description: "The next send or exchange finishes it; orvsite exchange /srv/orv/east does it now."
      - eval_time: 3m
        alertname: OrvCutSendWaiting
        exp_alerts: []
      - eval_time: 3m
        alertname: OrvExchangeDied
        exp_alerts:
          - exp_labels: {severity: warning, dir: /srv/orv/east, site: east}
            exp_annotations:
              summary: "An exchange of /srv/orv/east was killed before it finished"
YML
(cd "$t" && promtool test rules test.yml) || exit 1
echo "prometheus_rules_test.sh: the rules read and fire"
