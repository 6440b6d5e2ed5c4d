#!/bin/sh
# message_box_trace.sh RUNNER TEMPLATE ENTRY_TESTS
# Runs the entry case on a desktop nobody sees and counts the message boxes
# Wine traced for the runs it starts: exactly one, the log-file box of the run
# whose desktop is seen.
set -u
runner=$1 template=$2 tests=$3
output=$("$runner" --template "$template" --timeout 480 "$tests" \
  --gtest_filter='remove_entry.shows_no_box_where_nobody_sees_its_desktop' 2>&1)
status=$?
calls=$(printf '%s\n' "$output" | grep -a 'Call user32.MessageBox[AW](')
count=$(printf '%s\n' "$calls" | grep -c 'Call user32')
failures=0
[ $status -eq 0 ] || { echo "FAIL: the entry case failed ($status)"; printf '%s\n' "$output" | tail -40; failures=1; }
[ "$count" -eq 1 ] || { echo "FAIL: $count message boxes traced, expected 1"; failures=1; }
printf '%s\n' "$calls" | grep -q 'Unable to create log file' ||
  { echo "FAIL: no traced box with the log-file text"; failures=1; }
printf '%s\n' "$calls"
[ $failures -eq 0 ] && echo "one message box, where the desktop is seen"
exit $failures
