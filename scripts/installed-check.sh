#!/usr/bin/env bash
# A short check of the installed programs only (never the build folder): a fresh workspace made
# by the installed velkor-makedb, the installed simulator on a pseudo-terminal as the controller,
# the installed console on it under Xvfb. Start-up must send CLR_CNT, a scanned piece its
# positions, and SIGTERM must save the counter the controller reported.
set -euo pipefail
cd "$(dirname "$0")/.."

for program in velkor velkor-makedb velkor-simulator velkor-checkdb; do
  path=$(command -v "$program") || { echo "installed-check: $program is not installed" >&2; exit 1; }
  case "$path" in /usr/bin/*) ;; *) echo "installed-check: $program is $path" >&2; exit 1 ;; esac
  "$program" --version
done
test -f /usr/share/applications/velkor.desktop
test -f /usr/share/man/man1/velkor.1.gz

# Built as Debian builds: every hardening feature, and the debug symbols of exactly these
# programs in velkor-dbgsym. Debian 12's C start files (Scrt1.o, crti.o) carry no IBT/SHSTK
# property, so the linker leaves it off every program built there and hardening-check's
# control-flow line cannot pass; that the programs' own code is built for it (endbr64 at the
# function entries) is checked instead.
for program in velkor velkor-makedb velkor-simulator; do
  path=/usr/bin/$program
  hardening-check --nocfprotection "$path"
  entries=$(objdump -d "$path" | grep -c endbr64 || true)  # all read: no broken pipe
  if [ "$entries" -eq 0 ]; then
    echo "installed-check: $program was built without control-flow protection" >&2
    exit 1
  fi
  id=$(readelf -n "$path" | sed -n 's/^ *Build ID: //p')
  symbols=/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  if [ ! -f "$symbols" ] || [ "$(readelf -n "$symbols" 2>/dev/null | sed -n 's/^ *Build ID: //p')" != "$id" ]; then
    echo "installed-check: no debug symbols for $program (build id $id)" >&2
    exit 1
  fi
  echo "$program: debug symbols in $symbols"
done
dpkg --verify velkor velkor-dbgsym

site=$(mktemp -d)/site
trap 'kill -TERM "${simulator:-}" 2>/dev/null || true' EXIT
sed "s|^Port=.*|Port=$site/controller|" /usr/share/velkor/variables.txt > "${site%/site}/variables.txt"
velkor-makedb --workspace --variables "${site%/site}/variables.txt" "$site"
cp tools/demo/sample.kv "$site/Job/"
velkor-makedb --existing --job "$site/Job/sample.kv" "$site/KV.GDB"

velkor-simulator --link "$site/controller" --log "$site/controller.log" >/dev/null &
simulator=$!
for _ in $(seq 50); do [ -L "$site/controller" ] && break; sleep 0.1; done

wait_for() {  # wait_for PATTERN: until the controller's log has it, at most 20 s
  for _ in $(seq 200); do grep -q "$1" "$site/controller.log" 2>/dev/null && return 0; sleep 0.1; done
  echo "installed-check: the controller never received '$1'; its log:" >&2
  cat "$site/controller.log" >&2
  exit 1
}

# Keystrokes can reach the console only through a display server, so it runs under Xvfb with
# the scanner's typing played by xdotool. It is started as the menu entry starts it, with its
# workspace on the command line, from elsewhere.
grep -qx 'Exec=velkor --workspace /srv/velkor' /usr/share/applications/velkor.desktop
cd "$site"
SITE=$site xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  (cd / && QT_QPA_PLATFORM=xcb exec velkor --workspace "$SITE") & console=$!
  window=$(xdotool search --sync --onlyvisible --name "Velkor" | head -n 1)
  for _ in $(seq 200); do grep -q "recv CLR_CNT" controller.log && break; sleep 0.1; done
  xdotool mousemove --window "$window" 400 170 click 1
  xdotool type --delay 20 200000002
  xdotool key Return
  for _ in $(seq 200); do grep -q "recv R3_POS" controller.log && break; sleep 0.1; done
  kill -TERM "$console"
  wait "$console"
'
wait_for "recv CLR_CNT"
wait_for "recv R_POS"
grep "recv" controller.log
counter=$(tr -d '\r' < Morvel.INI | sed -n 's/^CNT=//p')
if [ "$counter" != "1" ]; then
  echo "installed-check: Morvel.INI holds CNT=$counter after one piece:" >&2
  cat Morvel.INI >&2
  exit 1
fi
echo "installed-check: start-up, a scan and SIGTERM work with the installed programs"
