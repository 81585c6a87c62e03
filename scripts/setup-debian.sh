#!/bin/bash
# Installs what building and running Vellum needs on Debian 12, if missing;
# with --tests also what the end-to-end tests drive it with (a web server, a
# browser, the Python documentation they crawl, openssl for a password file and
# the TLS test site's certificates, and NSIS for the setup program they
# install); with --package NSIS.
# Run as root (or with sudo available). Safe to run again.
set -euo pipefail

packages=(
    cmake ninja-build g++ make python3 googletest
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-tools wine wine64 xvfb xauth x11-utils locales fonts-ipafont-gothic imagemagick
    fp-utils
    clang libclang-rt-14-dev
)
case "${1:-}" in
--tests) packages+=(nginx-light chromium nsis python3-doc openssl) ;;
--package) packages+=(nsis) ;;
esac
# The tunnel tests: squid as the upstream proxy, certutil for the browser's own trusted CA.
if [ "${1:-}" = --tests ]; then packages+=(squid libnss3-tools); fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale: ja_JP.UTF-8 gives 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi
echo "setup complete"
