#!/bin/sh
# Fails when an installed file needs a test library: whoever installs the control or its
# programs must not need Qt Test, GoogleTest or Google Benchmark.
set -eu
status=0
for file in "$@"; do
    needed=$(readelf -d "$file" | grep -E 'NEEDED.*(libQt6Test|libgtest|libgmock|libbenchmark)' ||
        true)
    if [ -n "$needed" ]; then
        printf '%s needs a test library:\n%s\n' "$file" "$needed"
        status=1
    fi
done
[ "$status" -ne 0 ] || echo "$# installed files, none needs a test library"
exit "$status"
