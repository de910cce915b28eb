#!/usr/bin/env bash
# Builds the Debian package velkor and its debug symbols velkor-dbgsym with dpkg-buildpackage
# (debian/), checks both with lintian, installs them on this machine and checks what got
# installed: the debug symbols of each program here, then the package's autopkgtest
# (debian/tests) on the installed programs alone.
# The packages, .buildinfo and .changes end up in build-deb/. The test build's build/ is left
# alone: the package is built in obj-<host type>/ (see debian/rules).
# Run as root on Debian 12 (CI does, after the test command).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
desktop-file-validate packaging/velkor.desktop
appstreamcli validate --pedantic --no-net packaging/velkor.metainfo.xml

DEB_BUILD_OPTIONS="parallel=2 ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b

# dpkg-buildpackage leaves its products beside the source tree; they are moved into it.
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
mkdir -p build-deb
package=build-deb/velkor_${version}_${arch}.deb
symbols=build-deb/velkor-dbgsym_${version}_${arch}.deb
changes=build-deb/velkor_${version}_${arch}.changes
for file in "$package" "$symbols" "$changes" "build-deb/velkor_${version}_${arch}.buildinfo"; do
  mv -f "../${file#build-deb/}" build-deb/
done
echo "packages: $package $symbols"
# The .changes takes lintian to the .buildinfo and both packages too.
lintian --pedantic --display-info --fail-on error,warning "$changes"

export DEBIAN_FRONTEND=noninteractive
# --reinstall: a package of the same version already here (an earlier run) is replaced too.
apt-get install -y -qq --no-install-recommends --reinstall "./$package" "./$symbols" >/dev/null

# velkor-dbgsym holds the debug symbols of exactly the installed programs, found by build id as
# gdb finds them, so that a crash at a site gives a full backtrace.
for program in velkor velkor-makedb velkor-report velkor-simulator; do
  id=$(readelf -n "/usr/bin/$program" | sed -n 's/^ *Build ID: //p')
  debug=/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  if [ ! -f "$debug" ] || [ "$(readelf -n "$debug" 2>/dev/null | sed -n 's/^ *Build ID: //p')" != "$id" ]; then
    echo "package: no debug symbols for $program (build id $id)" >&2
    exit 1
  fi
  echo "$program: debug symbols in $debug"
done
dpkg --verify velkor velkor-dbgsym

# autopkgtest copies the source tree it is given into a folder of its own: it gets the project's
# files alone (those git has or would take), not build/ or the package build's leftovers.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do if [ -e "$file" ]; then printf '%s\0' "$file"; fi; done |
  tar --create --null --files-from=- | tar --extract --directory="$tree"
autopkgtest --no-built-binaries "$tree" -- null
