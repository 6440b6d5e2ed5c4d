#!/usr/bin/env bash
# The test bed's own check, under Wine in a throwaway prefix:
#  1. scenario "full" installs, and every remove and keep rule of its manifest
#     names something on the machine (the capture sees both registry views,
#     HKCU, files, services and processes, and the scenario holds what the
#     manifest expects a removal to take away);
#  2. with the family's programs and the suite service stopped, "msiexec /x"
#     of the product, the tray and the suite takes away exactly what
#     manifests/msi-uninstall.manifest says, and the comparison names it.
#
#   selfcheck.sh --build BUILD_DIR --template WINE_TEMPLATE
set -eu
machine=$(cd "$(dirname "$0")/.." && pwd)
top=$(cd "$machine/../.." && pwd)
build= template=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --template) template=$2; shift 2 ;;
    *) echo "selfcheck: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -n "$build" ] && [ -n "$template" ] || { echo "usage: selfcheck.sh --build DIR --template DIR" >&2; exit 2; }

. "$top/scripts/lib/wine-env.sh"
wine_scenario_prefix "$template" || exit 1
wine64=/usr/lib/wine/wine64
captures=$WINE_SCRATCH/captures
mkdir -p "$captures"

"$machine/install-scenario" --build "$build" full
"$machine/snapshot" --build "$build" "$captures/installed"
echo "== every rule of full.manifest names something the scenario installed"
"$machine/machine-state" match "$machine/manifests/full.manifest" "$captures/installed"
echo "ok"

# As the packages' own uninstallation would: programs closed, service stopped.
"$wine64" taskkill /f /im qelvaTray.exe /im Chimebox.exe /im DrummetsTray.exe /im DrummetLauncher.exe >/dev/null
"$wine64" net stop "Suite Service" >/dev/null
for _ in $(seq 1 100); do
  "$wine64" sc query "Suite Service" | grep -q 'STATE.*STOPPED' && break
  sleep 0.2
done
"$machine/snapshot" --build "$build" "$captures/before"

for product in 7474D25A-55B7-4CB8-9D93-1FB2B1F3726B CF6B13EA-1408-4C58-8484-99F0081933AA \
               F6B1BCC9-942B-4725-B0AA-F4488C80C788; do
  "$wine64" msiexec /x "{$product}" /qn
done
"$machine/snapshot" --build "$build" "$captures/after"

echo "== what msiexec /x removed"
"$machine/machine-state" diff --manifest "$machine/manifests/msi-uninstall.manifest" --check-manifest --fail \
  "$captures/before" "$captures/after"
