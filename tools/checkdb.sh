#!/usr/bin/env bash
# velkor-checkdb: checks a job database (KV.GDB) with Firebird's own validation, which also
# gives back the pages an unclean end left behind.
#
#   velkor-checkdb DATABASE
#
# DATABASE is a file path (the console's embedded database: close the console first) or
# "host:/path" on a Firebird server. A process killed in the middle of a large import (a crash,
# a power failure) leaves pages that the import had taken but not yet linked ("orphan pages"):
# validation reports them as warnings and releases them at once (they hold no rows and cost
# only space), so a second pass finds nothing. Whatever a second pass still finds is a real
# fault: restore the database from a backup.
#
# Exit status: 0 clean (also after orphan pages were released), 1 faults left, 2 the check
# could not run.
set -uo pipefail

usage="usage: velkor-checkdb DATABASE

Checks the Velkor console's job database with Firebird's validation and releases
the pages an unclean end left behind. DATABASE is a file (close the console first)
or host:/path on a Firebird server.

  -h, --help  print this text and exit
  --version   print the version and exit"
# Read the way the console's other programs read theirs: help and version win over what follows.
for argument in "$@"; do
  case "$argument" in
    -h | --help) echo "$usage"; exit 0 ;;
    --version) echo "velkor-checkdb @PROJECT_VERSION@"; exit 0 ;;
  esac
done
for argument in "$@"; do
  case "$argument" in
    -?*) printf 'velkor-checkdb: unknown option %s\n\n%s\n' "$argument" "$usage" >&2; exit 2 ;;
  esac
done
if [ $# -ne 1 ]; then
  printf 'velkor-checkdb: one database, not %d arguments\n\n%s\n' $# "$usage" >&2
  exit 2
fi
database=$1

# True when the folder is this account's alone: no link, no other owner, closed to others.
private_folder() {
  [ -d "$1" ] && [ ! -L "$1" ] && [ "$(stat -c %u "$1")" = "$(id -u)" ] &&
    [ $((0$(stat -c %a "$1") & 077)) -eq 0 ]
}

# The same lock folder as the console and its tools, so that a console still running on the
# file is noticed instead of clashed with; one that another account made or linked is refused.
if [ -z "${FIREBIRD_LOCK:-}" ]; then
  if [ -n "${XDG_RUNTIME_DIR:-}" ] && private_folder "$XDG_RUNTIME_DIR"; then
    FIREBIRD_LOCK=$XDG_RUNTIME_DIR/velkor-firebird
  else
    FIREBIRD_LOCK=/tmp/velkor-firebird-$(id -u)
  fi
  mkdir -m 0700 "$FIREBIRD_LOCK" 2>/dev/null
  if ! private_folder "$FIREBIRD_LOCK"; then
    echo "velkor-checkdb: the engine's lock folder $FIREBIRD_LOCK is not this account's own;" \
      "using a private one" >&2
    FIREBIRD_LOCK=$(mktemp -d "$FIREBIRD_LOCK-XXXXXX") || exit 2
  fi
  export FIREBIRD_LOCK
fi

# Prints what validation found; succeeds when it found nothing. A validation that cannot reach
# the database at all (no such file, no server, the console still has it open) is no finding;
# any other failure of the engine is: the database is damaged.
validate() {
  local out
  if ! out=$(gfix -v -full -user SYSDBA -password plumeroak "$database" 2>&1); then
    case "$out" in
      *"No such file or directory"* | *"Permission denied"* | *"Unable to complete network request"* | \
        *"already opened"* | *"lock time-out"* | *"user name and password are not defined"*)
        echo "velkor-checkdb: $database cannot be checked: $out" >&2
        exit 2
        ;;
    esac
  fi
  [ -z "$out" ] && return 0
  echo "$out"
  return 1
}

if validate; then
  echo "$database: no errors and no warnings"
  exit 0
fi
if validate >/dev/null; then
  echo "$database: orphan pages released; no errors and no warnings now"
  exit 0
fi
echo "velkor-checkdb: $database still has faults; restore it from a backup (gbak -c)" >&2
exit 1
