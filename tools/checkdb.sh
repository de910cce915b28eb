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

  --help     print this text and exit
  --version  print the version and exit"
case "${1:-}" in
  --help) echo "$usage"; exit 0 ;;
  --version) echo "velkor-checkdb @PROJECT_VERSION@"; exit 0 ;;
  -*) echo "velkor-checkdb: unknown option '$1'" >&2; echo >&2; echo "$usage" >&2; exit 2 ;;
esac
if [ $# -ne 1 ]; then
  echo "$usage" >&2
  exit 2
fi
database=$1

# The same lock folder as the console and its tools, so that a console still running on the
# file is noticed instead of clashed with.
export FIREBIRD_LOCK=${FIREBIRD_LOCK:-/tmp/velkor-firebird-$(id -u)}
mkdir -p -m 0700 "$FIREBIRD_LOCK"

# Prints what validation found; succeeds when it found nothing.
validate() {
  local out
  if ! out=$(gfix -v -full -user SYSDBA -password plumeroak "$database" 2>&1); then
    echo "velkor-checkdb: $database cannot be checked: $out" >&2
    exit 2
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
