#!/usr/bin/env bash
# Throughput of `korvane-host serve` for "Sample Age" against nginx serving the
# very same response bytes as a static file, both driven by wrk with the same
# number of connections on loopback. Prints requests/sec of each and the ratio
# (goal: korvane-host at least 0.4 of nginx).
# Usage: bench/http_bench.sh [BUILD_DIR]   (env: CONNECTIONS, DURATION, THREADS, ROUNDS)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench-http}"
connections="${CONNECTIONS:-32}"
duration="${DURATION:-10s}"
wrk_threads="${THREADS:-2}"
rounds="${ROUNDS:-5}"
request="$root/examples/requests/sample-age.xml"

for tool in wrk nginx curl; do
    command -v "$tool" >/dev/null || { echo "http_bench: $tool is missing (scripts/install-deps.sh wrk nginx-light)" >&2; exit 1; }
done

echo "== building korvane-host (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNT_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target korvane-host >/dev/null

work="$(mktemp -d /tmp/korvane-bench-XXXXXX)"
host_pid=""
nginx_pid=""
cleanup() {
    [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# korvane-host on a free port; its first output line names it.
"$build/korvane-host" serve --listen 127.0.0.1:0 --trace-file /dev/null --events /dev/null \
    >"$work/host.out" 2>"$work/host.err" &
host_pid=$!
for _ in $(seq 1 200); do
    grep -q '^listening on ' "$work/host.out" 2>/dev/null && break
    kill -0 "$host_pid" 2>/dev/null || { cat "$work/host.err" >&2; exit 1; }
    sleep 0.05
done
host_addr="$(sed -n 's/^listening on \([0-9.:]*\).*/\1/p' "$work/host.out")"
[ -n "$host_addr" ] || { echo "http_bench: korvane-host did not start" >&2; exit 1; }

# The response nginx serves: one answer of korvane-host, byte for byte (its
# DATE element makes every answer a little different, so capture one).
mkdir -p "$work/www"
curl -sf --data-binary @"$request" -o "$work/www/sample-age.xml" "http://$host_addr/"
size="$(stat -c %s "$work/www/sample-age.xml")"

# A free port for nginx: the first one nobody answers on.
nginx_port=""
for port in $(seq 18080 18180); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then nginx_port=$port; break; fi
done
[ -n "$nginx_port" ] || { echo "http_bench: no free port for nginx" >&2; exit 1; }
chmod 755 "$work" "$work/www"
chmod 644 "$work/www/sample-age.xml"
cat >"$work/nginx.conf" <<EOT
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 4096; }
http {
    access_log off;
    default_type text/xml;
    keepalive_requests 1000000;
    client_body_temp_path $work/body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
    }
}
EOT
nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" -g 'daemon off;' &
nginx_pid=$!
for _ in $(seq 1 200); do
    curl -sf -o /dev/null "http://127.0.0.1:$nginx_port/sample-age.xml" && break
    kill -0 "$nginx_pid" 2>/dev/null || { cat "$work/nginx-error.log" >&2; exit 1; }
    sleep 0.05
done
cmp -s <(curl -sf "http://127.0.0.1:$nginx_port/sample-age.xml") "$work/www/sample-age.xml" ||
    { echo "http_bench: nginx does not serve the captured response" >&2; exit 1; }

cat >"$work/post.lua" <<EOT
local file = io.open("$request", "rb")
wrk.method = "POST"
wrk.body = file:read("*a")
file:close()
wrk.headers["Content-Type"] = "text/xml"
EOT

run_wrk() {  # label, wrk arguments...
    local label="$1"; shift
    local out
    out="$(wrk -t"$wrk_threads" -c"$connections" -d"$duration" --latency "$@")"
    echo "== $label" >&2
    echo "$out" >&2
    if echo "$out" | grep -q 'Non-2xx'; then echo "http_bench: $label answered errors" >&2; exit 1; fi
    echo "$out" | awk '/^Requests\/sec:/ {print $2}'
}

# The two are measured in turns, ROUNDS times, and the median round counts:
# on shared cores a single pair of runs can be off by a third either way.
echo "== response: $size bytes; $connections connections, $wrk_threads wrk threads, $duration each, $rounds rounds"
ratios=()
for round in $(seq 1 "$rounds"); do
    host_rps="$(run_wrk "korvane-host POST http://$host_addr/" -s "$work/post.lua" "http://$host_addr/")"
    nginx_rps="$(run_wrk "nginx GET http://127.0.0.1:$nginx_port/sample-age.xml" "http://127.0.0.1:$nginx_port/sample-age.xml")"
    ratio="$(awk -v a="$host_rps" -v b="$nginx_rps" 'BEGIN { printf "%.3f", a / b }')"
    echo "round $round: korvane-host $host_rps requests/sec, nginx $nginx_rps requests/sec, ratio $ratio"
    ratios+=("$ratio $host_rps $nginx_rps")
done
median="$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }')"
read -r ratio host_rps nginx_rps <<<"$median"
echo
echo "korvane-host: $host_rps requests/sec (median round)"
echo "nginx:        $nginx_rps requests/sec (same round)"
echo "korvane-host / nginx requests per second = $(printf '%.2f' "$ratio") (target >= 0.4)"
