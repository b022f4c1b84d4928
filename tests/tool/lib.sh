# What the tool suites share (each script in tests/tool sources it): the
# tool to run, a work directory, the ok/not ok lines, ports, and running the
# tool in the foreground or as a background listener, bounded in time.
#
# Usage of every suite: scripts/in-netns tests/tool/SUITE native TOOL [TEST-TOOL]
#                       scripts/wine-run --shell tests/tool/SUITE wine TOOL.exe [TEST-TOOL.exe]
# A suite must run inside a private network namespace: it sends to loopback
# and to multicast routed there, and may change the namespace's routes,
# addresses and interfaces. With "wine" every command runs in the Wine prefix
# that scripts/wine-run created for it inside the namespace. TEST-TOOL, the
# tool's test build (veklink_seamed), is for the suites that hold the tool at
# one of its seams.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/checks.sh"
mode=${1:-}
tool=${2:-}
test_tool=${3:-}
if [ "${VEKLINK_IN_NETNS:-}" != 1 ] || [ ! -f "$tool" ] || { [ "$mode" != native ] && [ "$mode" != wine ]; } ||
   { [ "$mode" = wine ] && [ -z "${WINEPREFIX:-}" ]; }; then
  echo "not ok usage: scripts/in-netns $0 native TOOL, or scripts/wine-run --shell $0 wine TOOL"
  exit 1
fi
work=$(mktemp -d /tmp/veklink-tool.XXXXXX)
trap 'rm -rf "$work"' EXIT
runner=()
if [ "$mode" = wine ]; then runner=(wine); fi

group=239.255.70.1
group_re=${group//./\\.}

# take_port NAME: sets NAME to a port no other check of this suite uses.
next_port=20000
take_port() {
  printf -v "$1" '%d' "$next_port"
  next_port=$((next_port + 1))
}

# run NAME ARGS...: the tool, bounded in time; output in $work/NAME.out and
# NAME.err without Windows line ends, exit status in $rc.
run() {
  local name=$1
  shift
  timeout 20 "${runner[@]}" "$tool" "$@" >"$work/$name.out" 2>"$work/$name.err"
  rc=$?
  sed -i 's/\r$//' "$work/$name.out" "$work/$name.err"
}

# start NAME ARGS...: "listen ARGS" (or "$start_command ARGS") in the
# background ($listener), returning once it reports that it listens, on
# standard output or (--raw, --json) standard error (false when it never
# does). $listen_tool, when set, is run instead of the tool.
start() {
  local name=$1
  shift
  timeout 30 "${runner[@]}" "${listen_tool:-$tool}" "${start_command:-listen}" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  listener=$!
  for _ in $(seq 100); do
    grep -qsE '^(listening|echoing) on' "$work/$name.out" "$work/$name.err" && return 0
    kill -0 "$listener" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# finish NAME [bytes]: waits for the background listener; its status in $rc.
# With "bytes" its standard output is left exactly as written.
finish() {
  wait "$listener"
  rc=$?
  sed -i 's/\r$//' "$work/$1.err"
  if [ "${2:-}" != bytes ]; then sed -i 's/\r$//' "$work/$1.out"; fi
}

# The port a listener reports that it listens on.
listening_port() {
  sed -En 's/^(listening|echoing) on [0-9.]*:([0-9]*).*/\2/p' "$work/$1.out" "$work/$1.err" | tr -d '\r' | head -1
}

# The "length|hex" of each datagram line of a --hex listener's output.
received() {
  awk '/^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9][0-9][0-9]  127\.0\.0\.1:[0-9]+ / {
         s = ""; for (i = 5; i <= NF; i++) s = s (i > 5 ? " " : "") $i; print $3 "|" s }' "$work/$1.out"
}

# The "length|hex" line expected for the bytes on standard input.
expected() {
  local hex
  hex=$(od -An -tx1 -v | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
  echo "$(wc -w <<<"$hex")|$hex"
}

all_bytes=$(printf '%02x' $(seq 0 255))
summary_re() {  # summary_re DATAGRAMS BYTES REASON
  echo "^--- received $1 datagrams?, $2 bytes? in [0-9.]+ s \([0-9.]+ datagrams/s, [0-9]+ bytes/s\), 0 receive failures; $3\$"
}

# Files of every byte value, of text with carriage returns, line feeds and
# Ctrl-Z (which Windows would take for the end of text input), an empty one
# and one of the largest datagram.
make_files() {
  printf '%b' "$(printf '\\x%02x' $(seq 0 255))" >"$work/bytes"
  printf 'one\r\ntwo\n\x1a\x00three' >"$work/text"
  : >"$work/empty"
  python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7) % 256 for i in range(65507)))' >"$work/largest"
}

# Host names: localhost needs no name server; other names come from a hosts
# file mounted over /etc/hosts in a mount namespace of the command's own,
# with the resolver kept to files so that an unknown name is answered as
# unknown rather than as a failed lookup: "${with_hosts[@]}" COMMAND... runs
# COMMAND so.
printf '127.0.0.1 localhost\n%s group.veklink.test\n127.0.0.1 unicast.veklink.test\n' "$group" >"$work/hosts"
printf 'hosts: files\n' >"$work/nsswitch.conf"
cat >"$work/with-hosts" <<'SCRIPT'
#!/usr/bin/env bash
# with-hosts DIR COMMAND...: COMMAND with DIR/hosts and DIR/nsswitch.conf in place.
exec unshare --mount -- bash -c 'mount --bind "$1/hosts" /etc/hosts && mount --bind "$1/nsswitch.conf" /etc/nsswitch.conf && shift && exec "$@"' _ "$@"
SCRIPT
chmod +x "$work/with-hosts"
with_hosts=("$work/with-hosts" "$work")

# bad_usage DESCRIPTION CASE...: each case "MESSAGE|ARGS..." must give exit
# status 2, one line on standard error containing MESSAGE, and nothing on
# standard output.
bad_usage() {
  local description=$1 status=0 report=$work/bad.report
  shift
  : >"$report"
  for case in "$@"; do
    local message=${case%%|*} args
    read -r -a args <<<"${case#*|}"
    run bad "${args[@]}"
    if [ "$rc" -ne 2 ] || [ -s "$work/bad.out" ] || [ "$(wc -l <"$work/bad.err")" -ne 1 ] ||
       ! grep -qF -- "$message" "$work/bad.err"; then
      status=1
      echo "veklink ${args[*]} -> exit $rc: $(head -c 300 "$work/bad.err")" >>"$report"
    fi
  done
  report "$description" $status "$report"
}
