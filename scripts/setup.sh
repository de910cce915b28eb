#!/usr/bin/env bash
# Installs every Debian package the console, its tools and its tests need, and those that build
# and check its Debian package (debhelper, lintian, appstream, autopkgtest).
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang clang-format clang-tidy libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-translations-l10n libqt6svg6 qt6-charts-dev
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils firebird3.0-server
  libjpeg-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-dejavu-core locales
  xvfb xauth xdotool imagemagick libxtst-dev
  dpkg-dev debhelper file lintian desktop-file-utils appstream devscripts autopkgtest
)

# The workstation's Russian locale (decimal comma), so that tests can show that number reading
# does not depend on the process locale.
ensure_locale() {
  locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$' && return 0
  [ "$(id -u)" -eq 0 ] || return 0
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 >/dev/null 2>&1 || echo "setup: could not build the ru_RU.UTF-8 locale" >&2
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  ensure_locale
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
ensure_locale
