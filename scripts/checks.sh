# The ok/not ok lines of the script suites, sourced by each of them: one
# "ok DESCRIPTION" or "not ok DESCRIPTION" line per check, the lines that
# scripts/summarize-tests counts. $checks_prefix, when set, goes before every
# description.
checks_failed=0

# report DESCRIPTION STATUS [FILE...]: the line of one check whose status is
# STATUS (0: passed); after a failure, the start of each FILE that exists, as
# "# " lines.
report() {
  local description=$1 status=$2 file
  shift 2
  if [ "$status" -eq 0 ]; then
    echo "ok ${checks_prefix:-}$description"
    return 0
  fi
  checks_failed=$((checks_failed + 1))
  echo "not ok ${checks_prefix:-}$description"
  for file in "$@"; do [ -f "$file" ] && head -c 2000 "$file" | sed "s|^|# ${file##*/}: |"; done
  return 1
}

# skip DESCRIPTION WHY: the line of a check that cannot run here.
skip() { echo "skip ${checks_prefix:-}$1 ($2)"; }

# check DESCRIPTION COMMAND...: runs COMMAND, its output appended to
# $checks_log (or dropped when that is not set), and reports its status.
check() {
  "${@:2}" >>"${checks_log:-/dev/null}" 2>&1
  report "$1" $?
}

# checks_passed: true when no check failed; a suite's last command.
checks_passed() { [ "$checks_failed" -eq 0 ]; }
