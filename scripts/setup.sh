#!/usr/bin/env bash
# Installs everything the build and the tests need and creates the project's
# own Wine prefix. Idempotent: a second run only checks and returns quickly.
# This is the single place where anything gets installed.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

PACKAGES=(
  cmake make
  g++-mingw-w64-x86-64 mingw-w64-tools     # cross compiler (posix thread model), windres
  wine wine64                              # runs the Windows binaries
  xvfb xauth imagemagick                   # headless display and screenshots
  fonts-ipafont-gothic fonts-wine locales  # Japanese glyphs, Wine's own symbol fonts, the ja_JP locale
  googletest picojson-dev                  # test framework sources, JSON header
  python3 openssl tinyproxy curl procps    # stand-in server, certificates, proxy, benchmark
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine gives code page 932 only when the ja_JP.UTF-8 locale really exists.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating ja_JP.UTF-8"
  as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi

"$ROOT/scripts/wine-prefix.sh"
