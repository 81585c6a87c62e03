#!/bin/bash
# Prints a Chromium command line that sends only the named sites through
# Vellum and every other host directly, with the routing as a PAC script in a
# data: URL. (Chromium ignores a PAC script given as a file:// URL without
# saying so, and then goes direct: nothing reaches Vellum.)
#
# Usage: route-site.sh [--proxy ADDRESS:PORT] [--elsewhere ADDRESS:PORT] SITE...
#   SITE         a host (every port of it) or host:port, as in the page's URL
#   --proxy      where Vellum listens (default 127.0.0.1:8080)
#   --elsewhere  send every other host to this proxy instead of directly
#                (the tests give a closed port: nothing else leaves)
# Example:
#   $(bash scripts/route-site.sh 192.168.1.20:8000) http://192.168.1.20:8000/
set -euo pipefail
proxy=127.0.0.1:8080
otherwise=DIRECT
sites=()
while [ $# -gt 0 ]; do
    case "$1" in
    --proxy) proxy=$2; shift 2 ;;
    --elsewhere) otherwise="PROXY $2"; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) sites+=("$1"); shift ;;
    esac
done
if [ ${#sites[@]} -eq 0 ]; then
    echo "usage: route-site.sh [--proxy ADDRESS:PORT] [--elsewhere ADDRESS:PORT] SITE..." >&2
    exit 2
fi
script="function FindProxyForURL(url, host) {"$'\n'
for site in "${sites[@]}"; do
    case "$site" in
    *[!A-Za-z0-9.:_-]*) echo "route-site.sh: not a host or host:port: $site" >&2; exit 2 ;;
    *:*) script+="  if (url.indexOf('http://$site/') == 0 || url.indexOf('https://$site/') == 0) return 'PROXY $proxy';"$'\n' ;;
    *) script+="  if (host == '$site') return 'PROXY $proxy';"$'\n' ;;
    esac
done
script+="  return '$otherwise';"$'\n'"}"$'\n'
pac="data:application/x-ns-proxy-autoconfig;base64,$(printf '%s' "$script" | base64 -w0)"
# <-loopback>: without it Chromium never proxies a site on this machine.
printf "chromium --proxy-pac-url=%s --proxy-bypass-list=<-loopback>\n" "$pac"
