# Sourced by the bench-* scripts: a reference server on a free loopback port over a fresh
# SQLite database in $work, with vendors of 4 (318, from the demo seed), 1,000 (K1) and
# 10,000 (K10) comments. Sets $base (the server's URL, ending in /) and stops the server and
# anything else in $pids, and removes $work, on exit.
set -euo pipefail

build=${1:-build}
server=$build/bin/vendor-comment-server
[ -x "$server" ] || { echo "no $server: build it first (ninja -C $build vendor-comment-server)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Comments of about a hundred bytes with characters to escape; half have both dates.
comments_csv() { # vendor count
    awk -v vendor="$1" -v count="$2" 'BEGIN {
        print "VendorID,CommentSequence,Type,Location,Effective,Expires,Comment"
        for (n = 1; n <= count; n++)
            printf "%s,%d,%d,%d,2009-04-01,%s,\"Comment %d: deliveries before noon only, & <always> with the PO number, on every carton.\"\n",
                vendor, n, 1 + n % 4, (n % 3 ? n % 3 : 12), (n % 2 ? "2010-12-31" : ""), n
    }'
}

# The first line the program prints is its base URL.
start_server() {
    "$server" --db "$work/comments.db" --listen 127.0.0.1:0 --seed-demo \
        > "$work/server.out" 2> "$work/server.log" &
    pids+=($!)
    base=""
    for _ in $(seq 100); do
        base=$(head -n 1 "$work/server.out")
        [ -n "$base" ] && return
        sleep 0.1
    done
    echo "the server did not start; its log:" >&2
    cat "$work/server.log" >&2
    exit 1
}

# The server seeds the lookups the imported comments name.
start_server
comments_csv K1 1000 > "$work/k1.csv"
comments_csv K10 10000 > "$work/k10.csv"
"$server" import --db "$work/comments.db" "$work/k1.csv" > /dev/null
"$server" import --db "$work/comments.db" "$work/k10.csv" > /dev/null

# The load URL of a vendor.
load_url() {
    echo "${base}VendorCommentLOAD.asp?Vendor=$1&SCRN=7&PODate=03/23/2009"
}
