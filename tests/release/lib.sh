# What the release suites share (each script in tests/release sources it):
# the ok/not ok lines of scripts/checks.sh, the version a release is of, an
# empty directory to work in, unpacking an archive, and the export checks of
# scripts/ named for an archive.
set -uo pipefail
release_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$(cd "$release_tests/../../scripts" && pwd)
source "$scripts/checks.sh"

# dist_version DIST: the version in the name of DIST's source archive.
dist_version() { ls "$1" | sed -n 's/^VekLink-\(.*\)-src\.tar\.gz$/\1/p'; }

# enter_scratch NAME: cd into a new empty directory outside the repository,
# $scratch, removed when the suite ends.
enter_scratch() {
  scratch=$(mktemp -d "/tmp/veklink-$1.XXXXXX") || exit 1
  trap 'rm -rf "$scratch"' EXIT
  cd "$scratch" || exit 1
}

# members ARCHIVE: the names an archive holds.  unpack ARCHIVE [DIR]: unpacks it.
members() {
  case $1 in
    *.zip) unzip -Z1 "$1" ;;
    *) tar -tzf "$1" ;;
  esac
}
unpack() {
  case $1 in
    *.zip) unzip -q -o "$1" -d "${2:-.}" ;;
    *) tar -C "${2:-.}" -xzf "$1" ;;
  esac
}

# export_checks NAME SCRIPT ARGS...: the checks of scripts/SCRIPT, each named
# for NAME; the suite fails when any of them does.
export_checks() {
  checks_prefix="${checks_prefix:-}$1: " "$scripts/$2" "${@:3}" ||
    checks_failed=$((checks_failed + 1))
}
