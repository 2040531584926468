#!/usr/bin/env bash
# The worker behind Apache httpd: builds the module and mod_wendrake, installs a sample installation under
# out/apache-demo, starts Apache from a temporary server root on a free loopback port (no system service is
# touched) and shows with curl what browsers get. --keep leaves Apache running and prints how to stop it.
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
[ "${1:-}" = "--keep" ] && keep=1
scripts/ensure-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target WK_ServiceWorker wkctl wk_resource_module mod_wendrake
install="$PWD/out/apache-demo"
rm -rf "$install"
cmake --install build --prefix "$install" >/dev/null

root=$(mktemp -d /tmp/wendrake-apache.XXXXXX)
# Both sockets stay bound until both ports are known, so the two ports differ.
read -r port upstream < <(python3 -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
sed -e "s|@ROOT@|$root|g" -e "s|@PORT@|$port|g" -e "s|@UPSTREAM_PORT@|$upstream|g" -e "s|@INSTALL@|$install|g" \
    -e "s|@SITE@|$install/Wendrake/apache/demo/site|g" -e "s|@APACHE_MODULES@|/usr/lib/apache2/modules|g" \
    "$install/Wendrake/apache/demo/httpd.conf.in" >"$root/httpd.conf"
htpasswd -bc "$root/users" jane secret 2>/dev/null
# The worker's log (level 1, a file) beside the server root's logs.
settings="$install/Wendrake/Settings/SWSettings.xml"
set_item() { sed -i "s|\(ITEM ID=\"$1\" DESCR=\"[^\"]*\" VALUE=\"\)[^\"]*\"|\1$2\"|" "$settings"; }
set_item 14 1
set_item 12 2
set_item 39 "$root/worker-logs"
mkdir -p "$root/worker-logs"
if [ "$(id -u)" -eq 0 ]; then
    # Apache's children never run as root: they run as nobody, who must read the root and write the logs.
    printf 'User nobody\nGroup nogroup\n' >>"$root/httpd.conf"
    chmod 755 "$root"
    chmod 644 "$root/users"
    chown nobody "$root/worker-logs"
fi

stop() { /usr/sbin/apache2 -d "$root" -f "$root/httpd.conf" -k stop 2>/dev/null || true; }
if ! /usr/sbin/apache2 -d "$root" -f "$root/httpd.conf" -k start; then
    cat "$root/error.log" >&2 || true
    exit 1
fi
[ $keep -eq 1 ] || trap 'stop; rm -rf "$root"' EXIT
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

base="http://127.0.0.1:$port"
firefox="Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:128.0) Gecko/20100101 Firefox/128.0"
show() { echo; echo "== $1"; shift; curl -sS -u jane:secret "$@" || true; }
show "a browser the worker does not know (curl) is redirected to the blocked-browser page" \
    -D - -o /dev/null -A "curl/8.0" -H "Cookie: sessionid=42; UserContext=a1b2" "$base/owa/"
show "the guard's base page, answered by the worker itself" -A "$firefox" "$base/owa/?bkwkbase=1"
echo
show "the start page of a show-warning request: the guard's scripts, its script block and dialog are in it" \
    -A "$firefox" -D - "$base/owa/?bkwksubfr=2" -o "$root/startpage.html"
grep -i -E 'BKScripts|id=idbkWK|BKWK_showMsg' "$root/startpage.html" | cut -c1-120 || true
show "the same page from a gzip-encoding upstream behind mod_proxy, decoded and guarded" \
    -A "$firefox" -D - "$base/owa/gz/?bkwksubfr=2" -o "$root/startpage-gz.html"
cmp -s "$root/startpage.html" "$root/startpage-gz.html" && echo "(the same bytes as the page served directly)"
show "a logoff expires the webmail's session cookies" -A "$firefox" -D - -o /dev/null \
    -H "Cookie: sessionid=42; UserContext=a1b2" "$base/owa/logoff.html"
show "a guard script file the pages name, served from the installation's BKScripts folder" -A "$firefox" \
    -o /dev/null -w '%{http_code} %{content_type}, %{size_download} bytes\n' "$base/owa/BKScripts/Wendrake/1.2//bkcsbk_WKUtil.js"
show "a style sheet goes through untouched" -A "$firefox" "$base/owa/8.1.240.5/themes/base/owafont.css"
show "the webmail's script under the cached-script prefix the worker put in front of it" -A "$firefox" \
    "$base/owa/8.1.240.5/scripts/premium//bkcsm/v1uglobal.js"

if [ $keep -eq 1 ]; then
    echo
    echo "Apache runs at $base/owa/ (user jane, password secret); the worker's log is in $root/worker-logs."
    echo "Stop it with: /usr/sbin/apache2 -d $root -f $root/httpd.conf -k stop"
fi
