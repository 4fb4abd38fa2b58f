#!/usr/bin/env bash
# The release command: from the checkout as it is, a Release build of the
# three deliverables in a build tree of its own (build/mingw-release), then
# installer/package.sh: debug information moved into symbol files, every
# file signed, the package built and signed, every signature verified.
#
# Output in build/release:
#   TessalySendlet-<version>.msi   the signed package
#   files/                         the shipped files (signed) beside their
#                                  .debug symbol files
#   SHA256SUMS                     of all of them
#   policy/                        the Group Policy template (TessalySendlet.admx
#                                  and its ja-JP and en-US .adml files), for
#                                  administrators' central store
#   test-ca.pem                    only when signed with the throwaway test CA
#
# Signing identity and time stamps: see installer/signing.sh and the README
# (SENDLET_SIGN_PKCS12, SENDLET_SIGN_PASSWORD, SENDLET_SIGN_CAFILE,
# SENDLET_TIMESTAMP_URL).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

scripts/setup.sh --no-prefix

if git rev-parse --git-dir >/dev/null 2>&1 && [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: WARNING: the checkout has uncommitted changes; they go into this build" >&2
fi

# Always a fresh tree: nothing of an earlier configuration leaks in.
rm -rf build/mingw-release build/release
cmake --preset release >/dev/null
cmake --build --preset release --target zinpost zinpostresult ZinExt SetupActions

installer/package.sh --build build/mingw-release --out build/release --require-symbols

# The Group Policy template ships beside the package, checked first.
python3 tests/install/policy/check_policy.py --key 'SOFTWARE\Policies\KORVANTA\zinpost' --value Server \
  --languages en-US,ja-JP installer/policy
cp -r installer/policy build/release/policy

(cd build/release && find . -type f ! -name SHA256SUMS -printf '%P\n' | sort | xargs sha256sum >SHA256SUMS)
echo "release: build/release/$(cd build/release && ls TessalySendlet-*.msi)"
