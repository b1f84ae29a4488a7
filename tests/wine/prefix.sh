# Boots the Wine prefix that the scenarios copy, once per test run.
. "$(dirname "$0")/lib.sh"
require_wine
begin=$(date +%s)
boot_prefix "$TEMPLATE" || { echo "FAIL - wineboot of $TEMPLATE"; exit 1; }
echo "prefix booted in $(( $(date +%s) - begin )) s: $TEMPLATE"
