#!/bin/bash
# Benchmarks Vellum against tinyproxy, squid and nginx on loopback and prints
# the figures side by side, then its crawler against wget and httrack
# (bench/crawl.py). Installs the peers from Debian's packages if missing,
# builds Vellum, then runs bench/bench.py (arguments passed on) and the crawl.
#   bash bench/run.sh            full run (tens of minutes on 2 cores)
#   bash bench/run.sh --smoke    a few requests each, to see that it still runs
#   bash bench/run.sh --crawl [--quick|--smoke|--site-pages N]   the crawl only
# Exits 0 with "bench: skipped: ..." when a peer can't be installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

peers=(nginx-light tinyproxy squid apache2-utils wget httrack python3-doc)
missing=()
for p in "${peers[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! { as_root apt-get update -qq && as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }; then
        echo "bench: skipped: could not install ${missing[*]}"
        exit 0
    fi
fi
bash "$root/scripts/setup-debian.sh" >/dev/null
bash "$root/scripts/build.sh" win >/dev/null
if [ "${1:-}" = "--crawl" ]; then
    shift
    exec python3 "$root/bench/crawl.py" "$@"
fi
python3 "$root/bench/bench.py" "$@"
crawl_args=()
for a in "$@"; do
    if [ "$a" = --smoke ]; then crawl_args+=(--smoke); fi
done
echo
exec python3 "$root/bench/crawl.py" "${crawl_args[@]}"
