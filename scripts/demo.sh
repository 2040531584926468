#!/usr/bin/env bash
# The main job: builds the module and its command-line host, installs a sample installation under
# out/demo, and runs one webmail request through the module, showing what it did and what it logged.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target WK_ServiceWorker wkctl wk_resource_module
demo="$PWD/out/demo"
rm -rf "$demo"
cmake --install build --prefix "$demo" >/dev/null
# The demo switches the diagnostic log on (level 1, log file) and keeps it beside the installation.
settings="$demo/Wendrake/Settings/SWSettings.xml"
set_item() { sed -i "s|\(ITEM ID=\"$1\" DESCR=\"[^\"]*\" VALUE=\"\)[^\"]*\"|\1$2\"|" "$settings"; }
set_item 14 1
set_item 12 2
set_item 39 "$demo/Logs"
mkdir -p "$demo/Logs"
"$demo/Wendrake/bin/wkctl" run --install "$demo" \
    --method GET --url "/owa/" \
    --user-agent "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.6) Gecko/20070725 Firefox/2.0.0.6" \
    --cookie "UserContext=a1b2; sessionid=42" --accept-language "de-DE,de;q=0.8,en;q=0.5" \
    --subscription-type 1 --link-criteria 0 --status 200 \
    --user 'EXAMPLE\jane' --user-sid S-1-5-21-1004336348-1177238915-682003330-1001 \
    --server-variable HEADER_BK_CSMPREFIX=/bkcsm/v1 \
    --show-log "$demo/Logs/BrindlemarkLogs/BKCommonLog.log" "$@"
echo
echo "== the premium start page of a show-warning request through the module; the browser's copy is in"
echo "== out/demo/premium-startpage.html"
"$demo/Wendrake/bin/wkctl" run --install "$demo" \
    --method GET --url "/owa/?bkwksubfr=2" \
    --user-agent "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.0)" \
    --cookie "UserContext=a1b2; sessionid=42" --accept-language "de-DE,de;q=0.8,en;q=0.5" \
    --subscription-type 16 --link-criteria 0 --status 200 \
    --user 'EXAMPLE\jane' --user-sid S-1-5-21-1004336348-1177238915-682003330-1001 \
    --server-variable HEADER_BK_CSMPREFIX=/bkcsm/v1 \
    --body-file "$demo/Wendrake/Samples/Pages/premium-startpage.utf-8.html" --out "$demo/premium-startpage.html"
echo
echo "== the language and texts this request's user gets"
"$demo/Wendrake/bin/wkctl" texts --install "$demo" --accept-language "de-DE,de;q=0.8,en;q=0.5"
