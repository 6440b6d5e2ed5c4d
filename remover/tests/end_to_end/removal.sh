#!/usr/bin/env bash
# Remove.exe end to end, as a support engineer runs it: a scenario of the
# simulated machine laid into a fresh prefix, Remove.exe copied alone with the
# two Quietus builds into C:\work\support and run there, the machine captured
# before and after. The run passes when
#   - Remove.exe ends with exit code 0 and its log holds the completion line;
#   - the stage headings the scenario calls for stand in the log in order;
#   - the comparison with the scenario's manifest finds nothing left behind
#     and nothing wrongly removed;
#   - Windows Installer gives each product code named with --msi its state;
#   - for the relabelled build: the stages used the names derived from its
#     maker (launcher, suite service program and folder) and ran one installer
#     cleaning, the product's, and none of the sibling's.
#
#   removal.sh --build BUILD_DIR --template WINE_TEMPLATE [--windows VERSION]
#              [--msi {CODE}=STATE ...] [--running-service NAME ...]
#              [--second-run] [--relabelled] SCENARIO
#
# --windows VERSION  Wine's version setting for Remove.exe ("winxp64", ...)
# --running-service NAME  a service that runs before the run and must still be
#                    installed and running after it
# --second-run       run Remove.exe a second time straight after: it takes the
#                    preventive path, completes and removes nothing further
# --relabelled       run the build relabelled for another maker and product
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
machine=$top/testbed/machine
build= template= windows= second_run= relabelled= scenario=
msi_expected=() running_services=()
while [ $# -gt 0 ]; do
  case "$1" in
    --running-service) running_services+=("$2"); shift 2 ;;
    --build) build=$2; shift 2 ;;
    --template) template=$2; shift 2 ;;
    --windows) windows=$2; shift 2 ;;
    --msi) msi_expected+=("$2"); shift 2 ;;
    --second-run) second_run=1; shift ;;
    --relabelled) relabelled=1; shift ;;
    -*) echo "removal: unknown option $1" >&2; exit 2 ;;
    *) scenario=$1; shift ;;
  esac
done
[ -n "$build" ] && [ -n "$template" ] && [ -n "$scenario" ] ||
  { echo "usage: removal.sh --build DIR --template DIR [options] SCENARIO" >&2; exit 2; }
build=$(cd "$build" && pwd)
manifest=$("$machine/install-scenario" --manifest "$scenario")

. "$top/scripts/lib/wine-env.sh"
wine_scenario_prefix "$template" || exit 1
wine64=/usr/lib/wine/wine64
captures=$WINE_SCRATCH/captures
mkdir -p "$captures"

. "$here/log_checks.sh"

"$machine/install-scenario" --build "$build" "$scenario"

# The support engineer's folder: the program and its two helpers, nothing else.
program=Remove.exe product=Pellamore sibling=Ostravel maker=Drummets
if [ -n "$relabelled" ]; then
  program=Remove_relabelled.exe product=Brightwarden sibling=Duskwarden maker=Vellacorp
fi
support=$WINEPREFIX/drive_c/work/support
mkdir -p "$support"
cp "$build/bin/$program" "$support/Remove.exe"
cp "$build/bin/Quietus_2.1.1-2.1.4.exe" "$build/bin/Quietus_2.1.5-2.1.9.exe" "$support/"
if [ -n "$windows" ]; then
  "$wine64" reg add 'HKCU\Software\Wine\AppDefaults\Remove.exe' /v Version /d "$windows" /f >/dev/null
fi

"$machine/snapshot" --build "$build" "$captures/before"

# run_remove LOG: runs Remove.exe in its folder; its log file moves to LOG.
run_remove() {
  local rc=0 started=$(date +%s)
  (cd "$support" && wine 'C:\work\support\Remove.exe' >"$1.console" 2>&1) || rc=$?
  echo "Remove.exe ended with exit code $rc after $(($(date +%s) - started)) s"
  [ "$rc" = 0 ] || fail "exit code $rc"
  if [ -f "$support/QLRemover.log.txt" ]; then
    mv "$support/QLRemover.log.txt" "$1"
  else
    fail "no QLRemover.log.txt in the program's folder"
    : >"$1"
  fi
  grep -qF "$product force remover version 2.1.2.12 completed OK." "$1" ||
    fail "no completion line in the log"
}

# log_lines LOG: the log's lines without time stamp and level marker.
log_lines() {
  sed 's/^\xef\xbb\xbf//; s/\r$//; s/^[0-9/]* [0-9:]* .  //' "$1"
}

# check_headings LOG HEADING...: the headings stand in the log in this order
# (other lines, and headings of the operations the stages call, between them).
check_headings() {
  local log=$1
  shift
  local found
  found=$(log_lines "$log" | grep '^\*\*\*\* ' || true)
  if ! perl -e '
      my @want = @ARGV; my $i = 0;
      while (my $line = <STDIN>) { chomp $line; $i++ if $i < @want && $line eq $want[$i] }
      exit($i == @want ? 0 : 1)' "$@" <<<"$found"; then
    fail "stage headings out of order or missing"
    echo "expected, in this order:"; printf '    %s\n' "$@"
    echo "found:"; printf '%s\n' "$found" | sed 's/^/    /'
  fi
}

# stage_lines LOG HEADING: the lines of the stage with that heading, up to its
# closing line of 50 equals signs.
stage_lines() {
  log_lines "$1" | awk -v heading="$2" '
    $0 == heading { inside = 1; next }
    inside && /^={50}$/ { exit }
    inside { print }'
}

# check_stage_lines LOG HEADING LINE...: each line stands, exactly, in that stage.
check_stage_lines() {
  local log=$1 heading=$2 line text
  shift 2
  text=$(stage_lines "$log" "$heading")
  for line in "$@"; do
    grep -qxF -- "$line" <<<"$text" || fail "no line '$line' in the stage '$heading'"
  done
}

# The relabelled build on its maker's machine: the maker-prefixed launcher is
# closed in stage 1, the suite's service program "SuiteService.exe" runs from
# the maker's folder with /stop and /uninstall in stage 4 (the manifest covers
# the service "Vellacorp Suite Service" going), and the only installer cleaning
# is the product's (its upgrade code), never the sibling's of stage 5.
check_relabelled_log() {
  local log=$1 suite='C:\Program Files (x86)\Vellacorp\'
  check_stage_lines "$log" "**** Stop $product processes ****" \
    "Dealing with 'VellacorpLauncher.exe' process ...." \
    "Process with name 'VellacorpLauncher.exe' is running, let us close it"
  check_stage_lines "$log" "**** Deal with Sundrel 3.1.x ****" \
    "launch_and_wait_for_exit_code: \"${suite}SuiteService.exe\" /stop" \
    "launch_and_wait_for_exit_code: \"${suite}SuiteService.exe\" /uninstall"
  local cleanings
  cleanings=$(log_lines "$log" | grep -cxF '**** Cleaning Installation Database (64) ****' || true)
  [ "$cleanings" = 1 ] || fail "$cleanings installer database cleanings, not the product's alone"
  log_lines "$log" | grep -qxF '1  {11111111-2222-3333-4444-555555555555}' ||
    fail "the installer cleaning did not remove the product's upgrade code"
  if log_lines "$log" | grep -qiF '{9E4D2B71-0C3A-4F85-B6D9-2E17A5C0F348}'; then
    fail "the sibling's installer data was cleaned"
  fi
}

expected_headings() {
  local registered=$1 installer_cleanings=$2
  echo "**** Stop $product processes ****"
  [ "$registered" = 1 ] && echo "**** Stop $sibling Tray processes ****"
  echo "**** Removing QELVAguard from autorun  ****"
  echo "**** Deal with Sundrel 3.1.x ****"
  local i
  for ((i = 0; i < installer_cleanings; i++)); do echo "**** Cleaning Installation Database (64) ****"; done
  echo "**** Remove ${maker}Tray ****"
  echo "**** Stop Scancore services ****"
  echo "**** Removing $product Specific AppData folders ****"
  if [ "$registered" = 1 ]; then
    echo "**** Start Scancore services again to have $sibling working ****"
  else
    echo "**** Kill Scancore (driver and files) ****"
  fi
  echo "**** Cleaning SOFTWARE registry ****"
  echo "**** Removing $product shortcuts ****"
  echo "**** Cleaning Program Files folder ****"
  [ "$registered" = 1 ] && echo "**** Starting $sibling Tray ****"
  echo "**** Removing files from Virtual Store ****"
}

# What the first run is: the sibling registered or not; how many installer
# database cleanings (stage 5 below version 4.1.0 for the default maker,
# stage 6 unless the sibling is registered).
case "$scenario" in
  with-sibling) registered=1 cleanings=0 ;;
  bare) registered=0 cleanings=2 ;;
  *) registered=0 cleanings=1 ;;
esac
[ -n "$relabelled" ] && cleanings=1

echo "== Remove.exe on scenario $scenario${windows:+ (Windows setting $windows)}${relabelled:+ (relabelled build)}"
run_remove "$captures/first.log"
mapfile -t headings < <(expected_headings $registered $cleanings)
check_headings "$captures/first.log" "${headings[@]}"
[ -z "$relabelled" ] || check_relabelled_log "$captures/first.log"
"$machine/snapshot" --build "$build" "$captures/after"

echo "== What the run changed, against ${manifest#$top/}"
"$machine/machine-state" diff --summary --fail --manifest "$manifest" "$captures/before" "$captures/after" ||
  fail "the removal differs from the manifest"

# service_running CAPTURE NAME: the capture lists the service as running.
service_running() {
  awk -F '\t' -v name="$2" '$1 == "svc" && tolower($2) == tolower(name) && $3 ~ /^running / { found = 1 }
                             END { exit !found }' "$1"
}
for service in "${running_services[@]}"; do
  service_running "$captures/before" "$service" || fail "the service \"$service\" did not run before the run"
  service_running "$captures/after" "$service" || fail "the service \"$service\" is not running after the run"
done

if [ ${#msi_expected[@]} -gt 0 ]; then
  codes=()
  for pair in "${msi_expected[@]}"; do codes+=("${pair%%=*}"); done
  states=$(wine "$build/bin/msi_state.exe" "${codes[@]}" | tr -d '\r')
  for pair in "${msi_expected[@]}"; do
    code=${pair%%=*} want=${pair#*=}
    got=$(printf '%s\n' "$states" | awk -v c="$code" '$1 == c { print $2 }')
    echo "Windows Installer: $code state $got"
    [ "$got" = "$want" ] || fail "MsiQueryProductStateW($code) is $got, not $want"
  done
fi

if [ -n "$second_run" ]; then
  echo "== A second run straight after"
  run_remove "$captures/second.log"
  grep -qF "Making preventive cleaning in assumption that $product was installed before." "$captures/second.log" ||
    fail "the second run did not take the preventive path"
  if [ "$registered" = 1 ]; then
    grep -qF "$sibling is registered in the suite: its Windows Installer data stays." "$captures/second.log" ||
      fail "the preventive run with the sibling registered did not leave the sibling's installer data alone"
  fi
  "$machine/snapshot" --build "$build" "$captures/again"
  echo "== What the second run changed (nothing may go)"
  "$machine/machine-state" diff --summary --fail --manifest "$machine/manifests/bare.manifest" \
    "$captures/after" "$captures/again" || fail "the second run removed something"
fi

if [ "$failures" -gt 0 ]; then
  echo "== The log of the first run"
  cat "$captures/first.log"
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok"
