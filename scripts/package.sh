#!/bin/bash
# Builds the Windows package: a per-user setup program (NSIS; it installs
# under the user's local application-data programs folder, no administrator
# rights) and a plain zip of the same files. Both land in build/win/package/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup-debian.sh" --package
bash "$root/scripts/build.sh" win vellum_package
ls -l "$root/build/win/package/vellum-1.31b-setup.exe" "$root/build/win/package/vellum-1.31b.zip"
