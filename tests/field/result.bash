#!/usr/bin/env bash
# One rule's result from the guest run of the rig: its lines, then its verdict. Status 77 when
# the rig could not run here, with the reason.
# Usage: result.bash RESULTS_DIR RULE
set -uo pipefail
results=$1
rule=$2
if [ -e "$results/skipped" ]; then
  echo "SKIP: $(cat "$results/skipped")"
  exit 77
fi
if [ ! -e "$results/$rule.status" ]; then
  echo "FAIL: the guest left no result for $rule (see $results/console.log)"
  exit 1
fi
cat "$results/$rule.log"
status=$(cat "$results/$rule.status")
echo "$rule: status $status after $(cat "$results/$rule.seconds") s in the guest"
[ "$status" = 0 ]
