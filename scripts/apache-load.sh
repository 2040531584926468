#!/usr/bin/env bash
# Requests per second and 99th-percentile latency of Apache on loopback, measured with wrk (each run bounded,
# 10 s by default: DURATION=5s scripts/apache-load.sh), for a static style sheet and for the guarded start
# page of a show-warning request, in three set-ups of the same server: plain Apache, Apache with mod_wendrake
# and the worker, and Apache with mod_substitute inserting the same script block before </head>.
#   scripts/apache-load.sh --soak [SECONDS]  instead runs Apache with mod_wendrake under a fixed, moderate rate
#   (about 400 requests/s of guarded start pages, style sheets and base pages; 600 s by default), counts
#   the 5xx answers and samples the server's memory every 30 s.
#   scripts/apache-load.sh --pairs [N]  instead measures the style sheet N times (5 by default) on plain Apache
#   and on Apache with the worker, alternately, so that a drift of the machine weighs on both alike, and
#   prints each pair's cost of the worker and their median.
#   PIN=1 puts the server on the first core and wrk on the second, so that the two do not take turns on the
#   same core: the server's core is then the bottleneck, and the figures move much less from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."
duration="${DURATION:-10s}"
soak=0
pairs=0
case "${1:-}" in
--soak) soak="${2:-600}" ;;
--pairs) pairs="${2:-5}" ;;
esac
scripts/ensure-deps.sh
server_cpu=()
client_cpu=()
wrk_threads=2
if [ "${PIN:-0}" = 1 ]; then
    server_cpu=(taskset -c 0)
    client_cpu=(taskset -c 1)
    wrk_threads=1
fi
command -v wrk >/dev/null || { echo "wrk is not installed (Debian package wrk)" >&2; exit 1; }
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target WK_ServiceWorker wk_resource_module mod_wendrake >/dev/null
install="$PWD/out/apache-load"
rm -rf "$install"
cmake --install build --prefix "$install" >/dev/null
root=$(mktemp -d /tmp/wendrake-load.XXXXXX)
chmod 755 "$root"
site="$install/Wendrake/apache/demo/site"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
modules=/usr/lib/apache2/modules
pid=""
stop() {
    [ -n "$pid" ] || return 0
    /usr/sbin/apache2 -d "$root" -f "$root/httpd.conf" -k stop 2>/dev/null || true
    # -k stop only signals the server: the next set-up needs the port back.
    for _ in $(seq 100); do [ -e "$root/httpd.pid" ] || break; sleep 0.05; done
    pid=""
}
trap 'stop; rm -rf "$root"' EXIT

start() { # $1: the set-up's directives
    {
        printf 'ServerRoot "%s"\nDefaultRuntimeDir "%s"\nPidFile "%s/httpd.pid"\nErrorLog "%s/error.log"\n' \
            "$root" "$root" "$root" "$root"
        printf 'LogLevel warn\nMutex file:%s default\nServerName 127.0.0.1\nListen 127.0.0.1:%s\n' "$root" "$port"
        for m in mpm_event authz_core mime dir headers filter substitute; do
            echo "LoadModule ${m}_module $modules/mod_$m.so"
        done
        printf 'TypesConfig /etc/mime.types\nDirectoryIndex index.html\nDocumentRoot "%s"\n' "$site"
        printf '<Directory "%s">\n    Require all granted\n</Directory>\n' "$site"
        [ "$(id -u)" -eq 0 ] && printf 'User nobody\nGroup nogroup\n'
        echo "$1"
    } >"$root/httpd.conf"
    ${server_cpu[@]+"${server_cpu[@]}"} /usr/sbin/apache2 -d "$root" -f "$root/httpd.conf" -k start
    pid=started
    for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
}

firefox="User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:128.0) Gecko/20100101 Firefox/128.0"
# The processor time the server's processes have spent (user and system, this server root's only), in ticks.
server_ticks() {
    local pids
    pids=$(pgrep -f "apache2 -d $root" || true)
    [ -n "$pids" ] || { echo 0; return; }
    (cd /proc && cat $(sed 's|$|/stat|' <<<"$pids") 2>/dev/null) | sed 's/.*) //' | awk '{t += $12 + $13} END {print t + 0}'
}

# wrk and the server share the machine's cores, so requests per second move with whatever else runs; the
# server's processor time per request does much less, and shows what the module itself costs.
measure() { # $1 set-up, $2 what, $3 path
    local out rps p99 ticks requests cpu
    ticks=$(server_ticks)
    out=$(${client_cpu[@]+"${client_cpu[@]}"} wrk -t "$wrk_threads" -c 16 -d "$duration" --latency -H "$firefox" "http://127.0.0.1:$port$3")
    ticks=$(($(server_ticks) - ticks))
    rps=$(awk '/^Requests\/sec/ {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    requests=$(awk '/requests in/ {print $1}' <<<"$out")
    cpu=$(awk -v t="$ticks" -v n="$requests" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.1f", t * 1e6 / hz / n}')
    printf '%-22s %-28s %12s %10s %10s\n' "$1" "$2" "$rps" "$p99" "$cpu"
}

wendrake="LoadModule wendrake_module $install/Wendrake/apache/mod_wendrake.so
WendrakeWorker \"$install/Wendrake/bin/WK_ServiceWorker.so\"
WendrakeWebmail /owa
WendrakeCsmPrefix /bkcsm/v1
WendrakeIdentity header X-Load-User X-Load-Sid
RequestHeader set X-Load-User \"EXAMPLE\\\\jane\" early
RequestHeader set X-Load-Sid \"S-1-5-21-1004336348-1177238915-682003330-1001\" early
WendrakeSubscription subframe \"^/owa/([^?]*)\\?(.*&)?bkwksubfr=\"
WendrakeLinkCriteria 0"

# The server's memory: the resident size of all its processes together (this server root's only), in KB.
server_kb() { ps -o rss= -p "$(pgrep -d, -f "apache2 -d $root" || echo 1)" | awk '{kb += $1} END {print kb + 0}'; }

if [ "$soak" != 0 ]; then
    cat >"$root/soak.lua" <<'LUA'
-- Each connection waits 10 ms between requests (a fixed rate for a given number of connections) and goes
-- round the paths; answers of 500 and above are counted per thread and summed at the end.
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args)
    n5xx, i = 0, 0
    paths = {"/owa/?bkwksubfr=2", "/owa/8.1.240.5/themes/base/owafont.css", "/owa/?bkwkbase=1"}
end
function delay() return 10 end
function request()
    i = i + 1
    return wrk.format(nil, paths[i % #paths + 1])
end
function response(status, headers, body)
    if status >= 500 then n5xx = n5xx + 1 end
end
function done(summary, latency, requests)
    local total = 0
    for _, thread in ipairs(threads) do total = total + thread:get("n5xx") end
    io.write(string.format("answers of 500 and above: %d\n", total))
end
LUA
    start "$wendrake"
    printf 'soak of %s s at about 400 requests/s; server memory (KB of all its processes) every 30 s:\n' "$soak"
    wrk -t 2 -c 4 -d "${soak}s" --latency -H "$firefox" -s "$root/soak.lua" "http://127.0.0.1:$port" \
        >"$root/soak.txt" &
    load=$!
    for ((t = 0; t < soak; t += 30)); do
        printf '%5d s  %s\n' "$t" "$(server_kb)"
        sleep 30
    done
    wait $load
    printf '%5d s  %s\n' "$soak" "$(server_kb)"
    grep -E 'requests in|Requests/sec|Non-2xx|Socket errors|answers of 500|99%' "$root/soak.txt"
    stop
    exit 0
fi

if [ "$pairs" != 0 ]; then
    css=/owa/8.1.240.5/themes/base/owafont.css
    costs=()
    for ((n = 1; n <= pairs; n++)); do
        start ""
        plain=$(measure plain "style sheet (non-HTML)" "$css")
        stop
        start "$wendrake"
        ours=$(measure wendrake "style sheet (non-HTML)" "$css")
        stop
        printf '%s\n%s\n' "$plain" "$ours"
        cost=$(awk -v a="$(awk '{print $(NF - 2)}' <<<"$plain")" -v b="$(awk '{print $(NF - 2)}' <<<"$ours")" \
            'BEGIN {printf "%.1f", (a - b) * 100 / a}')
        costs+=("$cost")
        printf 'pair %d: the worker costs %s%%\n' "$n" "$cost"
    done
    printf 'median cost of the worker on the style sheet: %s%%\n' \
        "$(printf '%s\n' "${costs[@]}" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')"
    exit 0
fi

# The block mod_substitute inserts: what the worker adds to the page, on one line.
start "$wendrake"
curl -s -H "$firefox" "http://127.0.0.1:$port/owa/?bkwksubfr=2" >"$root/guarded.html"
stop
block=$({ diff <(tr -d '\r' <"$site/owa/index.html") <(tr -d '\r' <"$root/guarded.html") || true; } |
    sed -n 's/^> //p' | tr '\n' ' ' | tr -d '~' | sed -e 's/\\/\\\\/g' -e 's/"/\\"/g')
[ -n "$block" ] || { echo "the worker inserted nothing; see $root/error.log" >&2; exit 1; }
substitute="<Location /owa/>
    AddOutputFilterByType SUBSTITUTE text/html
    Substitute \"s~</head>~$block</head>~n\"
</Location>"

printf '%-22s %-28s %12s %10s %10s\n' "set-up" "request" "requests/s" "p99" "server µs"
for setup in plain wendrake substitute; do
    case $setup in
    plain) start "" ;;
    wendrake) start "$wendrake" ;;
    substitute) start "$substitute" ;;
    esac
    # Each set-up must really do its work on the page, or its figures mean nothing.
    if [ $setup != plain ] && ! curl -s -H "$firefox" "http://127.0.0.1:$port/owa/?bkwksubfr=2" | grep -q idbkWK; then
        echo "$setup: the start page came back without the script block; see $root/error.log" >&2
        exit 1
    fi
    measure "$setup" "style sheet (non-HTML)" "/owa/8.1.240.5/themes/base/owafont.css"
    measure "$setup" "start page (show warning)" "/owa/?bkwksubfr=2"
    stop
done
