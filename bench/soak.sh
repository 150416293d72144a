#!/usr/bin/env bash
# Soak: `korvane-host serve` under wrk for a bounded time with a mix of every
# table (bare and SOAP), malformed requests, requests with a DOCTYPE, oversized
# bodies and signed requests (valid and tampered). Fails when
#  - resident memory grows from the end of the warm-up to the end of the run
#    by more than max(8 MiB, 10%);
#  - the events written differ from the requests that name a table (each kind
#    of request is first sent once alone to learn whether it leaves an event),
#    or an event was dropped or unreadable;
#  - the host wrote an error to its own output, or exited uncleanly;
#  - the trace reports an exception or a failed write;
#  - (with an AddressSanitizer build) LeakSanitizer or any sanitizer reports
#    after at least LEAK_INVOKES invokes of the same mix.
# Usage: bench/soak.sh BUILD_DIR [ASAN_BUILD_DIR]
# Env: SOAK_SECONDS (300), CONNECTIONS (16), LEAK_INVOKES (10000).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:?usage: soak.sh BUILD_DIR [ASAN_BUILD_DIR]}"
asan_build="${2:-}"
seconds="${SOAK_SECONDS:-300}"
connections="${CONNECTIONS:-16}"
leak_invokes="${LEAK_INVOKES:-10000}"
body_limit=$((1 << 20))
host="$build/korvane-host"
[ -x "$host" ] || { echo "soak: $host is missing" >&2; exit 1; }
command -v wrk >/dev/null || { echo "soak: wrk is missing (scripts/install-deps.sh wrk)" >&2; exit 1; }

work="$(mktemp -d /tmp/korvane-soak-XXXXXX)"
server_pid=""
stop_server() {
    [ -n "$server_pid" ] || return 0
    kill -TERM "$server_pid" 2>/dev/null || true
    local rc=0
    wait "$server_pid" || rc=$?
    server_pid=""
    return $rc
}
trap 'stop_server || true; rm -rf "$work"' EXIT
failures=0
fail() { echo "soak: FAIL: $*"; failures=$((failures + 1)); }

# --- the request mix -------------------------------------------------------
mix="$work/mix"
mkdir -p "$mix"
cp "$root"/examples/requests/*.xml "$mix/"
pki() { "$host" pki "$@" | head -n 1; }
issuer="$(pki keygen --out "$work/issuer")"
sender="$(pki keygen --bits 2048 --out "$work/sender")"
credential="$(pki credential --issuer-key "$work/issuer.pem" --sender-key "$sender" \
    --valid-for 86400)"
"$host" pki sign --key "$work/sender.pem" --credential "$credential" \
    "$root/examples/requests/sample-age.xml" >"$mix/signed.xml"
sed 's/Sample Age/Sample Agf/' "$mix/signed.xml" >"$mix/signed-tampered.xml"
printf '%s\n' "$issuer" >"$work/trust.txt"
sample="$root/examples/requests/sample-age.xml"
head -c 200 "$sample" >"$mix/malformed-truncated.xml"
printf '<<<<\x00\xff\xfe not a request &&&' >"$mix/malformed-garbage.xml"
sed 's/<select>/<select><select>/' "$sample" >"$mix/malformed-nesting.xml"
sed 's/"Sample Age"/"Sample Age/' "$sample" >"$mix/malformed-quote.xml"
sed 's/^<tesselrequest/<!DOCTYPE tesselrequest [<!ENTITY x "Sample Age">]>\n<tesselrequest/' \
    "$sample" >"$mix/doctype.xml"
sed 's/<where><\/where>/<where><predicat><compare oper="GREATEQ"><target name="Age"><\/target><atom value="30"><\/atom><\/compare><\/predicat><\/where>/' \
    "$sample" >"$mix/filtered.xml"
{ cat "$sample"; head -c "$body_limit" /dev/zero | tr '\0' ' '; } >"$mix/oversized.xml"
kinds=("$mix"/*.xml)

cat >"$work/mix.lua" <<'EOT'
-- Each wrk thread cycles through the request files named after "--",
-- starting at its own place so the threads do not move in step.
local requests = {}
local next_index = 0
local thread_count = 0
function setup(thread)
    thread_count = thread_count + 1
    thread:set("start", thread_count * 7)
end
function init(args)
    for _, path in ipairs(args) do
        local file = assert(io.open(path, "rb"))
        local body = file:read("*a")
        file:close()
        requests[#requests + 1] = wrk.format("POST", "/", { ["Content-Type"] = "text/xml" }, body)
    end
    next_index = (start or 0) % #requests
end
function request()
    next_index = next_index % #requests + 1
    return requests[next_index]
end
EOT

start_server() {  # korvane-host binary, output prefix
    local binary="$1" out="$2"
    "$binary" serve --listen 127.0.0.1:0 --body-limit "$body_limit" \
        --trust-list "$work/trust.txt" --events "$out.events" --trace-file "$out.trace" \
        >"$out.out" 2>"$out.err" &
    server_pid=$!
    for _ in $(seq 1 600); do
        grep -q '^listening on ' "$out.out" 2>/dev/null && break
        kill -0 "$server_pid" 2>/dev/null || { cat "$out.err" >&2; exit 1; }
        sleep 0.05
    done
    address="$(sed -n 's/^listening on \([0-9.:]*\).*/\1/p' "$out.out")"
    [ -n "$address" ] || { echo "soak: the host did not start" >&2; exit 1; }
}
metric() {  # /metrics text, metric name with labels: its value (0 when absent)
    awk -v name="$2" '$1 == name { print $2; found = 1 } END { if (!found) print 0 }' <<<"$1"
}
lines() { [ -f "$1" ] && wc -l <"$1" || echo 0; }

# --- which kinds leave an event ----------------------------------------------
# Each kind is sent alone; the label /metrics gives it and whether an event
# followed are noted. A label must always mean the same (event or not).
declare -A label_event
start_server "$host" "$work/probe"
echo "== the mix: ${#kinds[@]} kinds"
for kind in "${kinds[@]}"; do
    before_events="$(lines "$work/probe.events")"
    before_metrics="$(curl -sf "http://$address/metrics")"
    status="$(curl -s -o /dev/null -w '%{http_code}' --data-binary @"$kind" "http://$address/")"
    sleep 0.1  # the event writer writes at least every 10 ms
    after_metrics="$(curl -sf "http://$address/metrics")"
    label="$({ diff <(grep '^korvane_requests_total' <<<"$before_metrics") \
        <(grep '^korvane_requests_total' <<<"$after_metrics") || true; } |
        sed -n 's/^> korvane_requests_total{table="\(.*\)"} .*/\1/p')"
    event=$(($(lines "$work/probe.events") - before_events))
    printf '   %-48s HTTP %s  %-28s event %s\n' "$(basename "$kind")" "$status" "${label:-(no invoke)}" "$event"
    [ -n "$label" ] || continue
    if [ -n "${label_event[$label]+x}" ] && [ "${label_event[$label]}" != "$event" ]; then
        echo "soak: label $label leaves an event for one kind and not another" >&2
        exit 1
    fi
    label_event[$label]=$event
done
stop_server || fail "the probe host exited with an error"

# --- the soak ----------------------------------------------------------------
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$server_pid/status"; }
start_server "$host" "$work/soak"
echo "== soak: $seconds s, $connections connections"
wrk -t2 -c"$connections" -d"${seconds}s" -s "$work/mix.lua" "http://$address/" -- "${kinds[@]}" \
    >"$work/wrk.out" 2>&1 &
wrk_pid=$!
warm=$((seconds / 10 > 5 ? seconds / 10 : 5))
samples=()
for ((t = 0; t < seconds; t += 5)); do
    sleep 5
    [ $((t + 5)) -ge "$warm" ] && samples+=("$(rss_kib)")
done
wait "$wrk_pid" || fail "wrk failed: $(cat "$work/wrk.out")"
metrics="$(curl -sf "http://$address/metrics")"
rss_warm="${samples[0]}"
rss_end="$(rss_kib)"
stop_server || fail "the host exited with status $?"

sed -n '/requests in/p; /Requests\/sec/p; /Non-2xx/p; /Socket errors/p' "$work/wrk.out" | sed 's/^ */   /'
echo "   resident memory (KiB) every 5 s after the warm-up: ${samples[*]} $rss_end"
growth=$((rss_end - rss_warm))
allowed=$((rss_warm / 10 > 8192 ? rss_warm / 10 : 8192))
echo "   growth from the warm-up to the end: $growth KiB (allowed $allowed)"
[ "$growth" -le "$allowed" ] || fail "resident memory grew by $growth KiB"

invokes=0
expected=0
while IFS=$'\t' read -r label value; do
    invokes=$((invokes + value))
    [ -n "${label_event[$label]+x}" ] || { fail "label $label was not seen alone"; continue; }
    expected=$((expected + value * label_event[$label]))
done < <(sed -n 's/^korvane_requests_total{table="\(.*\)"} \([0-9]*\)$/\1\t\2/p' <<<"$metrics")
events="$(lines "$work/soak.events")"
echo "   invokes $invokes; requests that name a table $expected; events written $events"
echo "   HTTP answers: $(grep '^korvane_http_responses_total{' <<<"$metrics" |
    sed 's/.*code="\([0-9]*\)"} \(.*\)/\1 x\2/' | tr '\n' ' ')"
[ "$events" -eq "$expected" ] || fail "$events events for $expected requests that name a table"
for name in korvane_events_dropped_total korvane_events_unreadable_total; do
    [ "$(metric "$metrics" "$name")" = 0 ] || fail "$name is $(metric "$metrics" "$name")"
done
[ "$(metric "$metrics" 'korvane_http_responses_total{code="500"}')" = 0 ] ||
    fail "the host answered 500"
[ ! -s "$work/soak.err" ] || fail "the host wrote to its error output: $(head -c 2000 "$work/soak.err")"
if grep -i -q -E 'exception|cannot write|failed to write' "$work/soak.trace"*; then
    fail "the trace reports: $(grep -i -h -m 3 -E 'exception|cannot write|failed to write' "$work/soak.trace"*)"
fi

# --- leaks -------------------------------------------------------------------
if [ -n "$asan_build" ]; then
    echo "== leaks: at least $leak_invokes invokes of the mix under AddressSanitizer"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1
    start_server "$asan_build/korvane-host" "$work/leak"
    wrk -t2 -c4 -d600s -s "$work/mix.lua" "http://$address/" -- "${kinds[@]}" >/dev/null 2>&1 &
    wrk_pid=$!
    count=0
    for _ in $(seq 1 600); do
        sleep 1
        count="$(metric "$(curl -sf "http://$address/metrics")" korvane_invoke_duration_seconds_count)"
        [ "$count" -ge "$leak_invokes" ] && break
    done
    kill "$wrk_pid" 2>/dev/null || true
    wait "$wrk_pid" 2>/dev/null || true
    rc=0
    stop_server || rc=$?
    echo "   $count invokes; host exit status $rc"
    [ "$count" -ge "$leak_invokes" ] || fail "only $count invokes within 600 s"
    [ "$rc" -eq 0 ] || fail "the sanitized host exited with status $rc"
    if grep -q -E 'Sanitizer|runtime error' "$work/leak.err"; then
        fail "sanitizer report: $(grep -m 5 -E 'Sanitizer|runtime error|#[0-9]' "$work/leak.err")"
    fi
fi

if [ "$failures" -gt 0 ]; then
    echo "soak: $failures failure(s)"
    exit 1
fi
echo "soak: passed"
