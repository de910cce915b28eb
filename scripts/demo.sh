#!/usr/bin/env bash
# The console's main job: installs what is needed, builds, makes a demo workspace, starts the
# controller simulator and runs the console in the workspace with the simulator's line as its
# port. With a display the console runs until you close it; without one it runs under Xvfb for a
# few seconds and leaves demo/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target velkor velkor-makedb velkor-simulator

# A fresh workspace: job database with machine variables, a run of pieces to scan (barcodes
# 100000001 to 100000020) and an imported job (200000011 and 200000012), the INI file, the log
# folder and a job file to load (200000001 to 200000003).
workspace="$top/demo"
rm -rf "$workspace"
mkdir -p "$workspace/log" "$workspace/Job"
# The console's port is the simulator's line.
sed "s|^Port=.*|Port=$workspace/controller|" tools/workspace/variables.txt > "$workspace/variables.txt"
# An earlier job file is imported already (Job/ keeps it under its stamped name); sample.kv waits
# to be loaded.
cp tools/demo/earlier.kv tools/demo/sample.kv "$workspace/Job/"
build/tools/velkor-makedb --variables "$workspace/variables.txt" --pieces 20 \
  --job "$workspace/Job/earlier.kv" "$workspace/KV.GDB"
printf '[Main]\r\nCNT=0\r\n' > "$workspace/Morvel.INI"

build/tools/velkor-simulator --link "$workspace/controller" --log "$workspace/controller.log" \
  --state "$workspace/controller-flash.txt" > "$workspace/controller.path" &
simulator=$!
trap 'kill -TERM "$simulator" 2>/dev/null; wait "$simulator" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -L "$workspace/controller" ] && break; sleep 0.1; done
echo "demo: controller simulator on $(head -n 1 "$workspace/controller.path"), log in demo/controller.log"

cd "$workspace"
if [ -n "${DISPLAY:-}" ]; then
  "$top/build/console/velkor"
  exit 0
fi

echo "demo: no display; running the console under Xvfb"
# Working cycles as an operator would do them: the scanner types a piece's barcode and Enter,
# the console looks up its positions and sends them, the simulator counts the piece; then a job
# file is loaded and one of its pieces scanned.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1" & console=$!
  sleep 3
  window=$(xdotool search --sync --onlyvisible --name "Velkor" | head -n 1)
  # No window manager: the keyboard goes where the pointer is.
  xdotool mousemove --window "$window" 400 170 click 1
  xdotool type --delay 20 100000007
  xdotool key Return
  sleep 3
  # The operator loads the job file from Job/ (File, Load) and scans one of its pieces.
  xdotool mousemove --window "$window" 28 9 click 1
  sleep 0.5
  xdotool key Down Return
  sleep 1.5
  # Over the dialog, which opens in the middle of the window; its file name box has the focus.
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
  xdotool type --delay 20 sample.kv
  xdotool key Return
  sleep 2
  xdotool mousemove --window "$window" 400 170 click 1
  xdotool type --delay 20 200000002
  xdotool key Return
  sleep 3
  # "Показать": the controller reports its count, and "Циклов" shows the two pieces.
  xdotool mousemove --window "$window" 48 205 click 1
  sleep 1
  import -window root screenshot.png
  kill -TERM "$console"
  wait "$console"
' demo "$top/build/console/velkor"
echo "demo: screenshot in $workspace/screenshot.png; what the controller received:"
cat "$workspace/controller.log"
