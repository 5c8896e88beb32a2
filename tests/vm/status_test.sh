#!/usr/bin/env bash
# scripts/vm reports how its machine ended: the command's exit status, a crash (the guest kernel panics)
# and a machine that outlives its time each come back as such, never as success. Prints one line per case
# and ends non-zero when a case fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$root/out/vm/status-test
failed=0

# what | timeout | command | expected exit status | expected vm-status
cases=(
  "the command's status|300|exit 7|7|exit 7"
  "a kernel panic|300|echo c >/proc/sysrq-trigger; sleep 60|125|crash"
  "a machine that outlives its time|25|sleep 600|124|timeout"
)
for c in "${cases[@]}"; do
  IFS='|' read -r what limit command want want_status <<<"$c"
  rm -rf "$work" && mkdir -p "$work"
  "$root/scripts/vm" --timeout "$limit" --log "$work/console.log" --results "$work/results" \
    -- bash -c "$command" 2>"$work/stderr"
  got=$?
  got_status=$(cat "$work/results/vm-status" 2>/dev/null)
  if [ "$got" = "$want" ] && [ "$got_status" = "$want_status" ]; then
    echo "pass: $what (exit status $got, vm-status \"$got_status\")"
  else
    echo "FAIL: $what: exit status $got, vm-status \"$got_status\"; expected $want, \"$want_status\""
    cat "$work/stderr"
    failed=1
  fi
done
exit $failed
