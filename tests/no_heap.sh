#!/usr/bin/env bash
# The host's own code allocates nothing on the heap: its objects reference no
# allocator. (The C runtime's fopen is the runtime's business.)
# Usage: no_heap.sh NM ARCHIVE...
set -u
nm=$1
shift
status=0
for archive in "$@"; do
    found=$("$nm" -u "$archive" | awk '{print $NF}' |
        grep -E '^_?(malloc|calloc|realloc|free|strdup|_strdup|_Znw|_Zna|_Zdl|_Zda)' | sort -u)
    if [ -n "$found" ]; then
        echo "FAIL: $archive references an allocator:"
        echo "$found"
        status=1
    else
        echo "ok: $archive references no allocator"
    fi
done
exit $status
