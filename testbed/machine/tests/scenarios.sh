#!/usr/bin/env bash
# Every scenario installs in a fresh prefix, and every remove and keep rule of
# its manifest names something on the machine afterwards. Prints how long each
# installation took.
#
#   scenarios.sh --build BUILD_DIR --template WINE_TEMPLATE [SCENARIO...]
set -u
machine=$(cd "$(dirname "$0")/.." && pwd)
top=$(cd "$machine/../.." && pwd)
build= template=
chosen=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --template) template=$2; shift 2 ;;
    -*) echo "scenarios: unknown option $1" >&2; exit 2 ;;
    *) chosen+=("$1"); shift ;;
  esac
done
[ -n "$build" ] && [ -n "$template" ] || { echo "usage: scenarios.sh --build DIR --template DIR [SCENARIO...]" >&2; exit 2; }
[ ${#chosen[@]} -gt 0 ] || mapfile -t chosen < <("$machine/install-scenario" --list)

. "$top/scripts/lib/wine-env.sh"
wine_env_check || exit 1
wine_template_ensure "$template" || exit 1
trap wine_prefix_drop EXIT

failed=() timings=()
for scenario in "${chosen[@]}"; do
  echo "== $scenario"
  wine_prefix_new "$template"
  if "$machine/install-scenario" --build "$build" "$scenario" >"$WINE_SCRATCH/install.log" 2>&1 &&
     "$machine/snapshot" --build "$build" "$WINE_SCRATCH/capture" &&
     "$machine/machine-state" match "$("$machine/install-scenario" --manifest "$scenario")" "$WINE_SCRATCH/capture"
  then
    timings+=("$(tail -1 "$WINE_SCRATCH/install.log")")
    echo "ok"
  else
    cat "$WINE_SCRATCH/install.log"
    failed+=("$scenario")
  fi
  wine_prefix_drop
done

printf '%s\n' "${timings[@]}"
[ ${#failed[@]} -eq 0 ] || { echo "FAILED: ${failed[*]}"; exit 1; }
