#!/usr/bin/env bash
# The console's main job: installs what is needed, builds, makes a demo workspace and runs the
# console in it. With a display the console runs until you close it; without one it runs under
# Xvfb for a few seconds and leaves demo/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target velkor velkor-makedb

# A fresh workspace: job database with machine variables and a run of pieces to scan
# (barcodes 100000001 to 100000020), the INI file, the log folder and a job file to load.
workspace="$top/demo"
rm -rf "$workspace"
mkdir -p "$workspace/log" "$workspace/Job"
build/tools/velkor-makedb --variables tools/demo/variables.txt --pieces 20 "$workspace/KV.GDB"
printf '[Main]\r\nCNT=0\r\n' > "$workspace/Morvel.INI"
cp tools/demo/sample.kv "$workspace/Job/"

cd "$workspace"
if [ -n "${DISPLAY:-}" ]; then
  exec "$top/build/console/velkor"
fi

echo "demo: no display; running the console under Xvfb"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1" & console=$!
  sleep 4
  import -window root screenshot.png
  kill -TERM "$console"
  wait "$console"
' demo "$top/build/console/velkor"
echo "demo: screenshot in $workspace/screenshot.png; event log and counter in $workspace"
