#!/usr/bin/env bash
# Builds the Debian package and its debug symbols (velkor-dbgsym), installs both on this machine
# and checks what got installed: lintian on the packages, then scripts/installed-check.sh on the
# installed programs alone.
# Run as root on Debian 12 (CI does, after the test command).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target velkor velkor-makedb velkor-simulator velkor_package_files
(cd build && cpack -G DEB >/dev/null)
package=$(ls build/velkor_*_amd64.deb)
symbols=$(ls build/velkor-dbgsym_*_amd64.ddeb)
echo "packages: $package $symbols"
lintian --fail-on error,warning "$package" "$symbols"
export DEBIAN_FRONTEND=noninteractive
# --reinstall: a package of the same version already here (an earlier run) is replaced too.
apt-get install -y -qq --no-install-recommends --reinstall "./$package" >/dev/null
dpkg --install "$symbols" >/dev/null  # apt takes no .ddeb from the command line
./scripts/installed-check.sh
