#!/bin/sh
# Fails when the library exports anything but the public widget class, installTranslator and
# the four entry points, or lacks an entry point: a leak of an internal symbol is a promise we
# never made.
set -eu
library=$1
symbols=$(nm -DC --defined-only "$library" | sed 's/^[0-9a-f]* [A-Za-z] //')
public='^(Dll(RegisterServer|UnregisterServer|GetClassObject|CanUnloadNow)$|tavik::installTranslator\(QLocale const&\)$|((typeinfo|typeinfo name|vtable) for |non-virtual thunk to )?tavik::VendorCommentWidget(::|$))'
leaked=$(printf '%s\n' "$symbols" | grep -vE "$public" || true)
if [ -n "$leaked" ]; then
    printf 'exported, but not public API:\n%s\n' "$leaked"
    exit 1
fi
for entry in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow; do
    printf '%s\n' "$symbols" | grep -qx "$entry" || { echo "not exported: $entry"; exit 1; }
done
echo "$(printf '%s\n' "$symbols" | wc -l) exported symbols, all public API"
