# Checks the ZIP package's files against its README.txt: the install rules
# CPack packs are run into a scratch folder, and each file there must be one
# the README's list names, and each file the list names must be there. The
# README must end every line with CR LF.
# Usage: bash check_zip_files.sh CMAKE BUILD_DIR README SCRATCH
set -u
cmake=$1 build=$2 readme=$3 scratch=$4
rm -rf "$scratch"
"$cmake" --install "$build" --prefix "$scratch" >"$scratch.out" 2>&1 || {
    echo "FAIL - cmake --install failed"; cat "$scratch.out"; exit 1; }
packed=$(cd "$scratch" && find . -type f | sed 's|^\./||; s|/|\\|g' | LC_ALL=C sort)
# The list: from "which holds:" to the first empty line after an entry; an
# entry is two spaces, then the name.
named=$(tr -d '\r' <"$readme" | awk '/which holds:/ {on = 1; next}
    on && /^$/ && seen {exit}
    on && /^  [^ ]/ {print $1; seen = 1}' | LC_ALL=C sort)
# Windows' Notepad of old shows a bare LF as no line end at all.
if grep -q $'[^\r]$' "$readme" 2>/dev/null || grep -qx '' "$readme"; then
    echo "FAIL - $readme has lines that do not end in CR LF"
    exit 1
fi
if [ "$packed" = "$named" ]; then
    echo "PASSED: the ZIP holds the $(echo "$named" | wc -l) files its README names"
    exit 0
fi
echo "FAIL - the ZIP's files and the README's list differ (- named, + packed)"
diff <(echo "$named") <(echo "$packed") | sed 's/^/    /'
exit 1
