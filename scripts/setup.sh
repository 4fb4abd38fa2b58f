#!/usr/bin/env bash
# Installs everything the build, the tests and the release need and creates
# the project's own Wine prefix. Idempotent: a second run only checks and
# returns quickly. This is the single place where anything gets installed.
#
#   scripts/setup.sh              packages, locale and the Wine prefix
#   scripts/setup.sh --no-prefix  packages and locale only (the release build)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

make_prefix=1
case "${1:-}" in
  "") ;;
  --no-prefix) make_prefix=0 ;;
  *) echo "usage: scripts/setup.sh [--no-prefix]" >&2; exit 2 ;;
esac

PACKAGES=(
  cmake make
  g++-mingw-w64-x86-64 mingw-w64-tools     # cross compiler (posix thread model), windres
  wine wine64                              # runs the Windows binaries
  xvfb xauth imagemagick                   # headless display and screenshots
  fonts-ipafont-gothic fonts-wine locales  # Japanese glyphs, Wine's own symbol fonts, the ja_JP locale
  googletest picojson-dev                  # test framework sources, JSON header
  python3 openssl tinyproxy curl procps    # stand-in server, certificates, proxy, benchmark
  wixl msitools                            # the installer package
  libxml2-utils unzip                      # the sparse package's manifest check and tests
  ca-certificates                          # verifying a real code-signing certificate's chain
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# apt and the packages' own scripts talk a lot (debconf notes among it): their
# output goes to a file that is shown only when something fails.
quietly() {
  local log status=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "setup: failed: $*" >&2
  fi
  rm -f "$log"
  return "$status"
}

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  quietly as_root apt-get update -qq
  quietly as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Code signing: osslsigncode signs MSIX packages from 2.7 on. Where the
# distribution's own version is older (Debian 12 has 2.5), it comes from the
# distribution's backports.
OSSLSIGNCODE_NEEDED=2.7
osslsigncode_version() {
  osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9][0-9.]*\).*/\1/p'
}
osslsigncode_good() {
  local found
  found=$(osslsigncode_version)
  [ -n "$found" ] && dpkg --compare-versions "$found" ge "$OSSLSIGNCODE_NEEDED"
}
if ! osslsigncode_good; then
  distribution=$(. /etc/os-release 2>/dev/null && echo "${ID:-} ${VERSION_CODENAME:-}")
  read -r distribution_id codename <<<"$distribution"
  candidate=$(apt-cache policy osslsigncode 2>/dev/null | sed -n 's/^ *Candidate: //p')
  if [ -n "$candidate" ] && [ "$candidate" != "(none)" ] &&
     dpkg --compare-versions "${candidate#*:}" ge "$OSSLSIGNCODE_NEEDED"; then
    echo "setup: installing osslsigncode $candidate"
    quietly as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends osslsigncode
  elif [ "$distribution_id" = debian ] && [ -n "$codename" ]; then
    backports="$codename-backports"
    if ! grep -rqs -- "$backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
      echo "setup: adding $backports to apt's sources"
      printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$backports" | as_root tee /etc/apt/sources.list.d/backports.sources >/dev/null
    fi
    echo "setup: installing osslsigncode from $backports"
    quietly as_root apt-get update -qq || true
    quietly as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      -t "$backports" osslsigncode || true
  fi
  if ! osslsigncode_good; then
    found=$(osslsigncode_version)
    echo "setup: osslsigncode ${found:-is not installed}${found:+ is too old}: $OSSLSIGNCODE_NEEDED or later is needed" \
      "to sign the MSIX package, and neither the distribution nor its backports offer it here;" \
      "install osslsigncode $OSSLSIGNCODE_NEEDED or later and run setup again" >&2
    exit 1
  fi
fi

# Wine gives code page 932 only when the ja_JP.UTF-8 locale really exists.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating ja_JP.UTF-8"
  as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  # Compiled into a folder of its own rather than into the locale archive: a
  # shell that started before this run (the test command that called us) has
  # already looked into the archive, never looks again, and would warn that
  # it cannot switch to the locale.
  quietly as_root localedef --no-archive -i ja_JP -c -f UTF-8 -A /usr/share/locale/locale.alias ja_JP.UTF-8
fi

if [ "$make_prefix" -eq 1 ]; then
  "$ROOT/scripts/wine-prefix.sh"
fi
