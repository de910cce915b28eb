#!/usr/bin/env bash
# velkor-checkdb: checks a job database (KV.GDB) with Firebird's own validation, tells the
# harmless leftovers of an unclean end from damage, and rebuilds the file with a gbak backup
# and restore when asked.
#
#   velkor-checkdb [--rebuild] DATABASE
#
# DATABASE is a file path (the console's embedded database: close the console first) or
# "host:/path" on a Firebird server. What a process killed in the middle of a large import (a
# kill -9, a crash, a power failure of the console's or the server's machine) leaves behind,
# and what validation makes of it:
#
# - Orphan pages: pages the import had taken but not yet linked. Validation reports them as
#   "database page warnings" and releases them itself whenever it finds nothing else; they hold
#   no rows.
# - An index whose root page the import had split: the new root never reached the disk (it is
#   one of the orphan pages), so the index keeps its old root page with every leaf page written
#   since linked behind it as a right sibling. Validation finds nothing wrong with that, and
#   lookups follow the sibling links. The next import into the index puts a level above the old
#   root again, which points to the old root and to the pages split off from now on but never
#   to the siblings that were there before: validation then reports "misses node" and
#   "inconsistent left sibling pointer" at that level, one pair of index page warnings for each
#   such page, and keeps the orphan pages while it finds them. Every row is still found (a
#   search that passes the end of a page goes on to its right sibling). The engine never
#   repairs these pages, nor does a sweep or gfix -mend; rebuilding the index does, and only a
#   gbak backup and restore rebuilds all of them (the indexes of primary and foreign keys
#   cannot be deactivated and activated again).
#
# Whatever else validation reports is a fault: exit 1, with the rebuild offered, which saves
# every row that the engine can still read into a new file.
#
# Exit status: 0 the data is sound (clean, or only the harmless warnings above, which the
# output names with the command that clears them), 1 faults left, 2 the check could not run.
set -uo pipefail

usage="usage: velkor-checkdb [--rebuild] DATABASE

Checks the Velkor console's job database with Firebird's validation, releases the
pages an unclean end left behind and tells harmless warnings from damage. DATABASE
is a file (close the console first) or host:/path on a Firebird server.

  --rebuild   backs the database file up with gbak and restores the backup into a
              new file, which rebuilds every index; once validation finds the new
              file clean it takes the database's name, and the old file is kept
              beside it as NAME-<date>-<time>.GDB (a file only: for a database on a
              server, run it on the server machine with the file's path)
  -h, --help  print this text and exit
  --version   print the version and exit

Exit status: 0 the data is sound (clean, or only harmless warnings, which the
output names with the command that clears them), 1 faults left, 2 the check
could not run."
# Read the way the console's other programs read theirs: help and version win over what follows.
for argument in "$@"; do
  case "$argument" in
    -h | --help) echo "$usage"; exit 0 ;;
    --version) echo "velkor-checkdb @PROJECT_VERSION@"; exit 0 ;;
  esac
done
rebuild=false
operands=()
for argument in "$@"; do
  case "$argument" in
    --rebuild) rebuild=true ;;
    -?*) printf 'velkor-checkdb: unknown option %s\n\n%s\n' "$argument" "$usage" >&2; exit 2 ;;
    *) operands+=("$argument") ;;
  esac
done
if [ ${#operands[@]} -ne 1 ]; then
  printf 'velkor-checkdb: one database, not %d arguments\n\n%s\n' ${#operands[@]} "$usage" >&2
  exit 2
fi
database=${operands[0]}
credentials=(-user SYSDBA -password plumeroak)

# "host:/path" and "host/port:/path" name a database on a server; anything else is a file.
on_server=false
if [[ "$database" =~ ^[^/:]+(/[0-9]+)?: ]]; then
  on_server=true
fi

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

# Ends with status 2 when the engine could not reach the database at all (no such file, no
# server, the console still has it open), which is no finding; other failures are findings.
# $1 is what the engine said, $2 the database, $3 what could not be done ("checked").
unreachable() {
  case "$1" in
    *"No such file or directory"* | *"Permission denied"* | *"Unable to complete network request"* | \
      *"already opened"* | *"lock time-out"* | *"user name and password are not defined"*)
      echo "velkor-checkdb: $2 cannot be ${3:-checked}: $1" >&2
      exit 2
      ;;
  esac
}

# Validates the file or server database $1 (gfix -v -full, which also releases orphan pages
# when it finds nothing else) into $found: empty when clean, else validation's summary, or the
# engine's message when validation failed on the way (the database is damaged).
validate() {
  if ! found=$(gfix -v -full "${credentials[@]}" "$1" 2>&1); then
    unreachable "$found" "$1"
    [ -n "$found" ] || found="validation failed without a message"
  fi
}

# The counts of validation's summary, one "KIND|COUNT" line each ("index page warnings|316").
counts() {
  sed -n 's/^[[:space:]]*Number of \(.*[^[:space:]]\)[[:space:]]*:[[:space:]]*\([0-9][0-9]*\)[[:space:]]*$/\1|\2/p' \
    <<<"$1"
}
count_of() {
  counts "$1" | sed -n "s/^$2|//p"
}

# The database's own validation service names each index warning with its index (gfix only
# counts them). Prints one line per index whose pages miss their link from the level above
# ("RDB$PRIMARY7 (OPTDETAIL): 24 pages") and, last, "harmless N other M": N such warnings and
# M other findings. Online validation covers the user tables, which hold every index warning
# an import can leave; a count that differs from gfix's is no harmless finding.
explain_index_warnings() {
  local service=service_mgr path=$database report
  if $on_server; then
    service=${database%%:*}:service_mgr
    path=${database#*:}
  else
    path=$(cd "$(dirname -- "$database")" && pwd)/$(basename -- "$database")
  fi
  # The tool's embedded engine sometimes falls over on its way out, after its report: the
  # report decides, not the status, and no core file is left.
  report=$( (ulimit -c 0; fbsvcmgr "$service" "${credentials[@]}" action_validate dbname "$path") 2>&1)
  unreachable "$report" "$database"
  if ! grep -q 'Validation finished' <<<"$report"; then
    echo "velkor-checkdb: the validation service could not name the index warnings: $report" >&2
    exit 2
  fi
  awk '
    / Relation [0-9]+ \(/ { table = $0; sub(/.*\(/, "", table); sub(/\).*/, "", table) }
    / Index [0-9]+ \(/ { index_name = $0; sub(/.*\(/, "", index_name); sub(/\).*/, "", index_name) }
    / Warning: Index [0-9]+ misses node on page / { ++missing[index_name " (" table ")"]; ++harmless; next }
    / Warning: Index [0-9]+ has inconsistent left sibling pointer/ { ++harmless; next }
    /Warning|Error|ERROR/ { ++other }
    END {
      for (name in missing) printf "%s: %d pages\n", name, missing[name]
      printf "harmless %d other %d\n", harmless, other
    }' <<<"$report"
}

# --rebuild: the file backed up with gbak and restored into a new file beside it, which takes
# the database's name once validation finds it clean; the old file is kept under a stamped name.
if $rebuild; then
  if $on_server; then
    echo "velkor-checkdb: --rebuild works on a file; for $database run it on the server machine" \
      "with the file's path, as the account that owns the file, with every console closed" >&2
    exit 2
  fi
  if [ -L "$database" ] || [ ! -f "$database" ]; then
    echo "velkor-checkdb: $database cannot be rebuilt: it is no file (a link: give the file it names)" >&2
    exit 2
  fi
  folder=$(dirname -- "$database")
  name=$(basename -- "$database")

  # A console running in the folder holds its marker (velkor.running) locked: the lock is taken
  # here too, so that none is running now and none starts until the new file is in place. A
  # marker made here goes again; one that a console left is left as it was.
  marker=$folder/velkor.running
  marker_made=false
  [ -e "$marker" ] || [ -L "$marker" ] || marker_made=true
  # Another account's marker can be locked, though not written, through a descriptor for reading.
  opened=false
  if [ ! -L "$marker" ]; then
    if { exec {marker_fd}<>"$marker"; } 2>/dev/null || { exec {marker_fd}<"$marker"; } 2>/dev/null; then
      opened=true
    fi
  fi
  if ! $opened; then
    echo "velkor-checkdb: $database cannot be rebuilt: $marker cannot be opened" >&2
    exit 2
  fi
  if ! flock -n "$marker_fd"; then
    echo "velkor-checkdb: a console works in $folder (started $(head -n 1 "$marker")); close it" \
      "before rebuilding its database" >&2
    exit 2
  fi
  work=$(mktemp -d "$folder/.velkor-rebuild-XXXXXX") || {
    echo "velkor-checkdb: $database cannot be rebuilt: no folder for the work can be made in $folder" >&2
    exit 2
  }
  cleanup() {
    rm -rf -- "$work"
    if $marker_made; then
      rm -f -- "$marker"
    fi
  }
  trap cleanup EXIT

  # Every row the engine can read goes into the backup; -g leaves the old file's garbage where
  # it is instead of collecting it on the way.
  if ! out=$(gbak -b -g "${credentials[@]}" "$database" "$work/backup.fbk" 2>&1); then
    unreachable "$out" "$database" rebuilt
    echo "velkor-checkdb: $database cannot be backed up, so it is left as it is: $out" >&2
    echo "velkor-checkdb: the engine cannot read all of it. Restore your last backup of it into" \
      "a new file (gbak -c BACKUP NEWFILE), put that in its place and load the job files loaded" \
      "since the backup again." >&2
    exit 1
  fi
  backed_up=$(stat -c '%i %s %y' -- "$database")
  if ! out=$(gbak -c "${credentials[@]}" "$work/backup.fbk" "$work/$name" 2>&1); then
    echo "velkor-checkdb: the backup of $database cannot be restored, so it is left as it is: $out" >&2
    exit 1
  fi
  validate "$work/$name"
  if [ -n "$found" ]; then
    echo "velkor-checkdb: the file restored from $database does not validate clean, so the" \
      "database is left as it is:" >&2
    echo "$found" >&2
    exit 1
  fi
  if ! chmod --reference="$database" -- "$work/$name" ||
    ! chown --reference="$database" -- "$work/$name" 2>/dev/null; then
    echo "velkor-checkdb: the rebuilt file cannot get the owner of $database; run --rebuild as" \
      "the account that owns it" >&2
    exit 2
  fi
  if [ "$(stat -c '%i %s %y' -- "$database")" != "$backed_up" ]; then
    echo "velkor-checkdb: $database changed while it was rebuilt (a console opened it?), so it" \
      "is left as it is; close every console that uses it and run --rebuild again" >&2
    exit 2
  fi
  # KV.GDB is kept as KV-20261210-093000.GDB, as velkor-makedb --force keeps the one it replaces.
  stem=${name%.*}
  extension=${name#"$stem"}
  stamp=$(date +%Y%m%d-%H%M%S)
  beside=${database%"$name"}
  kept=$beside$stem-$stamp$extension
  for ((n = 1; ; ++n)); do
    [ -e "$kept" ] || [ -L "$kept" ] || break
    kept=$beside$stem-$stamp-$n$extension
  done
  if ! mv -- "$database" "$kept"; then
    echo "velkor-checkdb: $database is left as it is: it cannot be renamed" >&2
    exit 2
  fi
  if ! mv -- "$work/$name" "$database"; then
    mv -- "$kept" "$database"
    echo "velkor-checkdb: $database is left as it is: the rebuilt file cannot take its place" >&2
    exit 2
  fi
  echo "$database: rebuilt from a gbak backup and restore; no errors and no warnings"
  echo "$database: the file it replaced is kept as $kept"
  exit 0
fi

validate "$database"
if [ -z "$found" ]; then
  echo "$database: no errors and no warnings"
  exit 0
fi
echo "$found"
first=$found
validate "$database"
if [ -z "$found" ]; then
  orphans=$(count_of "$first" "database page warnings")
  if [ -n "$orphans" ] && [ "$(counts "$first" | wc -l)" -eq 1 ]; then
    echo "$database: $orphans orphan pages released; no errors and no warnings now"
    echo "They were pages that a write cut off by a crash (an import, most likely) had taken;"
    echo "they held no rows. The indexes that import had grown may show warnings after the next"
    echo "import: they are harmless, and velkor-checkdb --rebuild clears them."
  else
    echo "$database: validation mended what it found; no errors and no warnings now"
  fi
  exit 0
fi

# What a second pass still finds: only index warnings of the kind an import cut off leaves,
# with the orphan pages that validation keeps while they are there, is harmless.
index_warnings=$(count_of "$found" "index page warnings")
if [ -n "$index_warnings" ] &&
  ! counts "$found" | grep -q -v -e '^index page warnings|' -e '^database page warnings|'; then
  explained=$(explain_index_warnings) || exit
  if [ "$(tail -n 1 <<<"$explained")" = "harmless $index_warnings other 0" ]; then
    orphans=$(count_of "$found" "database page warnings")
    echo "$database: the data is sound; what validation still reports is harmless:"
    echo "  $index_warnings index warnings (\"misses node\", \"inconsistent left sibling pointer\"):"
    echo "  index pages that only their neighbours point to, not the level above them; an import"
    echo "  cut off by a crash leaves them, with the next import into the same indexes. Lookups"
    echo "  find every row through them."
    sed '$d; s/^/    /' <<<"$explained"
    if [ -n "$orphans" ]; then
      echo "  $orphans orphan pages, which hold no rows; validation releases them once it finds"
      echo "  nothing else."
    fi
    echo "A rebuild clears them (a gbak backup and restore, which rebuilds every index):"
    if $on_server; then
      echo "on the server machine, with every console closed and as the account that owns the"
      echo "file: velkor-checkdb --rebuild ${database#*:}"
    else
      echo "with the console closed: velkor-checkdb --rebuild $database"
    fi
    exit 0
  fi
fi

where=$database
$on_server && where="${database#*:} on the server machine"
{
  echo "velkor-checkdb: $database has faults that validation cannot mend (above). A rebuild"
  echo "saves every row the engine can still read into a new file (a gbak backup and restore)"
  echo "and keeps this one beside it: velkor-checkdb --rebuild $where, with every console"
  echo "closed. If that fails, or a job is missing afterwards, restore your last backup of the"
  echo "database (gbak -c) or load the job's file again."
} >&2
exit 1
