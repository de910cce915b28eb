#!/usr/bin/env bash
# The real console, killed (kill -9) the moment the controller has a piece's last position:
# the record of that dispatch is in the job database once the console has started again, once,
# with every command the line saw.
#   killed-after-dispatch.sh VELKOR VELKOR-MAKEDB VELKOR-SIMULATOR VELKOR-REPORT
set -euo pipefail
velkor=$1 makedb=$2 simulator=$3 report=$4
site=$(mktemp -d)
trap 'kill -TERM "${sim:-}" 2>/dev/null || true; rm -rf "$site"' EXIT
cd "$site"
printf 'Port=%s/controller\nL_BarCode=9\nL_upor=0\nQty_Imp_mm=10\n' "$site" > variables.txt
"$makedb" --variables variables.txt --pieces 2 KV.GDB >/dev/null
printf '[Main]\r\nCNT=0\r\n' > Morvel.INI
"$simulator" --link "$site/controller" --log controller.log > controller.path &
sim=$!
for _ in $(seq 50); do [ -L controller ] && break; sleep 0.1; done

wait_for() {  # a line of the controller's log
  for _ in $(seq 300); do grep -q "$1" controller.log 2>/dev/null && return 0; sleep 0.05; done
  echo "killed-after-dispatch: the controller never got $1" >&2
  exit 1
}

export VELKOR=$velkor
# Under AddressSanitizer: libxkbcommon-x11 hands strndup a name exactly as long as its bound,
# with no terminator after it, which POSIX allows and the sanitizer's strndup takes for an
# overflow; every X client of this Debian trips it at start-up.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:intercept_strndup=0"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  QT_QPA_PLATFORM=xcb "$VELKOR" & console=$!
  window=$(xdotool search --sync --onlyvisible --name "Velkor" | head -n 1)
  for _ in $(seq 200); do grep -q "recv CLR_CNT" controller.log && break; sleep 0.05; done
  xdotool mousemove --window "$window" 400 170 click 1
  xdotool type --delay 20 100000001
  xdotool key Return
  for _ in $(seq 300); do grep -q "recv R3_POS" controller.log && break; sleep 0.01; done
  kill -KILL "$console"
  wait "$console" || true
'
wait_for "recv R3_POS"
sent=$(grep -o "recv R[0-9]*_POS[0-9]*" controller.log | cut -d" " -f2 | paste -sd" ")

# The next start writes what the killed one left; SIGTERM once it is up.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  QT_QPA_PLATFORM=xcb "$VELKOR" & console=$!
  for _ in $(seq 200); do [ "$(grep -c "recv CLR_CNT" controller.log)" -ge 2 ] && break; sleep 0.05; done
  sleep 1
  kill -TERM "$console"
  wait "$console"
'
records=$("$report" KV.GDB | tail -n +2 | tr -d '\r')
echo "$records"
[ "$(printf '%s\n' "$records" | grep -c .)" -eq 1 ] || { echo "killed-after-dispatch: not one record" >&2; exit 1; }
commands=$(printf '%s\n' "$records" | cut -d";" -f8)
[ "$commands" = "$sent" ] || { echo "killed-after-dispatch: recorded '$commands', sent '$sent'" >&2; exit 1; }
printf '%s\n' "$records" | cut -d";" -f4,9 | grep -Eq '^100000001;(SENT|CUT)$'
echo "killed-after-dispatch: the record survived the kill"
