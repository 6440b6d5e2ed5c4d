#!/usr/bin/env bash
# Remove.exe end to end where users may have put something for it: the run
# must take code only from where it belongs and complete as on a clean
# machine (exit code 0, the completion line, the scenario's manifest).
#
#   planted.sh --build BUILD_DIR --template WINE_TEMPLATE CASE
#
#   helpers_beside   engine 2.1.7 (its watch service stopped by
#                    "Quietus_2.1.5-2.1.9.exe"), Remove.exe with the two Quietus
#                    builds in its folder. Programs and a library that only
#                    leave a mark on the test bed's trace when they run, named
#                    "Harrowlink.dll", "Quietus_2.1.5-2.1.9.exe",
#                    "Quietus_2.1.1-2.1.4.exe" and "rundll32.exe", lie in the
#                    run's current folder (not Remove.exe's) and in a folder on
#                    PATH: none of them runs.
#   alone            engine 2.1.3 ("Quietus_2.1.1-2.1.4.exe"), Remove.exe alone
#                    in its folder, the same programs planted: none runs, the
#                    log says the Quietus build is not beside the remover.
#   taken_names      the sibling registered (scenario with-sibling), and the
#                    names of the private copy of Harrowlink.dll taken before
#                    the run, 101 for every process id below 2048 (a folder
#                    holding a planted library, then files): the run still uses
#                    the suite's library, sees the sibling as registered and
#                    keeps what it keeps.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
machine=$top/testbed/machine
build= template= case_name=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --template) template=$2; shift 2 ;;
    -*) echo "planted: unknown option $1" >&2; exit 2 ;;
    *) case_name=$1; shift ;;
  esac
done
[ -n "$build" ] && [ -n "$template" ] && [ -n "$case_name" ] ||
  { echo "usage: planted.sh --build DIR --template DIR CASE" >&2; exit 2; }
build=$(cd "$build" && pwd)
case "$case_name" in
  helpers_beside) scenario=engine-2.1.7 quietus=Quietus_2.1.5-2.1.9.exe ;;
  alone) scenario=engine-2.1.3 quietus=Quietus_2.1.1-2.1.4.exe ;;
  taken_names) scenario=with-sibling ;;
  *) echo "planted: unknown case $case_name" >&2; exit 2 ;;
esac
manifest=$("$machine/install-scenario" --manifest "$scenario")

. "$top/scripts/lib/wine-env.sh"
wine_scenario_prefix "$template" || exit 1
captures=$WINE_SCRATCH/captures
mkdir -p "$captures"
c=$WINEPREFIX/drive_c

. "$here/log_checks.sh"

"$machine/install-scenario" --build "$build" "$scenario"

# Remove.exe's folder; the run's current folder and a folder on PATH, both
# with the planted programs.
support=$c/work/support current=$c/work/current on_path="$c/work/on path"
mkdir -p "$support" "$current" "$on_path"
cp "$build/bin/Remove.exe" "$support/"
[ "$case_name" = alone ] ||
  cp "$build/bin/Quietus_2.1.1-2.1.4.exe" "$build/bin/Quietus_2.1.5-2.1.9.exe" "$support/"
if [ "$case_name" != taken_names ]; then
  for folder in "$current" "$on_path"; do
    cp "$build/bin/planted_library.dll" "$folder/Harrowlink.dll"
    for program in Quietus_2.1.5-2.1.9.exe Quietus_2.1.1-2.1.4.exe rundll32.exe; do
      cp "$build/bin/planted_program.exe" "$folder/$program"
    done
  done
fi
export WINEPATH='C:\work\on path'
wine cmd /c 'echo %PATH%' 2>/dev/null | tr -d '\r' | grep -qiF 'C:\work\on path' ||
  fail "the folder is not on the PATH that Windows programs see"

# The names of the private copy's folder: Remove.exe's temporary folder,
# "Harrowlink.<process id>.<n>". Process ids are multiples of 4; a fresh
# prefix gave Remove.exe ids of about 600 here. 101 names each: more than the
# 100 that the remover once tried before it gave the library up.
temp_windows=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
temp=$(winepath -u "$temp_windows" 2>/dev/null)
taken_below=2048 taken_each=101
if [ "$case_name" = taken_names ]; then
  mkdir -p "$temp"
  cp "$build/bin/planted_library.dll" "$captures/planted_library.dll"
  (cd "$temp" && for ((id = 4; id < taken_below; id += 4)); do
     mkdir "Harrowlink.$id.0"
     ln "$captures/planted_library.dll" "Harrowlink.$id.0/Harrowlink.dll"
     names=()
     for ((n = 1; n < taken_each; n++)); do names+=("Harrowlink.$id.$n"); done
     touch "${names[@]}"
   done)
  taken=$(find "$temp" -maxdepth 1 -name 'Harrowlink.*' | wc -l)
  echo "names taken in $temp_windows: $taken"
fi

"$machine/snapshot" --build "$build" "$captures/before"
trace=$c/ProgramData/testbed/trace.log
: >"$trace"

echo "== Remove.exe in C:\\work\\support, run from C:\\work\\current, case $case_name"
rc=0 started=$(date +%s)
(cd "$current" && wine 'C:\work\support\Remove.exe' >"$captures/console" 2>&1) || rc=$?
echo "Remove.exe ended with exit code $rc after $(($(date +%s) - started)) s"
[ "$rc" = 0 ] || fail "exit code $rc"
log=$captures/first.log
mv "$current/QLRemover.log.txt" "$log" 2>/dev/null || { fail "no log in the current folder"; : >"$log"; }
has_line "$log" "Pellamore force remover version 2.1.2.12 completed OK."

if grep -F 'planted copy ran' "$trace"; then fail "a planted program or library ran"; fi
case "$case_name" in
  helpers_beside)
    has_line "$log" "launch $quietus"
    has_line "$log" "AV Watch Service was stopped succesfully" ;;
  alone)
    has_line "$log" "launch $quietus"
    has_line "$log" "$quietus is not in the remover's folder C:\\work\\support\\: it is not started from anywhere else" ;;
  taken_names)
    # The library of the suite answered: the sibling is registered.
    has_line "$log" "**** Stop Ostravel Tray processes ****"
    has_line "$log" "**** Start Scancore services again to have Ostravel working ****"
    passed=$(text "$log" | grep -E '^[0-9]+ names for the folder of the copy of Harrowlink.dll were taken already and passed over' || true)
    echo "${passed:-no line about names passed over}"
    id=$(sed -n 's/.*Harrowlink\.\([0-9]*\)\.\*)$/\1/p' <<<"$passed")
    [ "$(cut -d' ' -f1 <<<"$passed")" = "$taken_each" ] || fail "not $taken_each names passed over"
    [ -n "$id" ] && [ "$id" -lt "$taken_below" ] || fail "Remove.exe's process id ${id:-?} is not among the names taken"
    grep -qF "Harrowlink.dll[$id]" "$trace" || fail "the suite's library did not run in Remove.exe"
    after=$(find "$temp" -maxdepth 1 -name 'Harrowlink.*' | wc -l)
    [ "$after" = "$taken" ] || fail "$after names in the temporary folder after the run, $taken before"
    [ -f "$temp/Harrowlink.$id.0/Harrowlink.dll" ] || fail "what lay in a taken folder went" ;;
esac

"$machine/snapshot" --build "$build" "$captures/after"
echo "== What the run changed, against ${manifest#$top/}"
"$machine/machine-state" diff --summary --fail --manifest "$manifest" "$captures/before" "$captures/after" ||
  fail "the removal differs from the manifest"

if [ "$failures" -gt 0 ]; then
  echo "== The log"
  cat "$log"
  echo "== The trace"
  cat "$trace"
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok"
