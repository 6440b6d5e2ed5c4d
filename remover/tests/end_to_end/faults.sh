#!/usr/bin/env bash
# Remove.exe end to end on a machine that misbehaves, scenario "full": the run
# must complete (exit code 0, the completion line), say on its log what went
# wrong, and leave the machine as the scenario's manifest says.
#
#   faults.sh --build BUILD_DIR --template WINE_TEMPLATE FAULT
#
#   hanging_child      the suite service program's /uninstall never ends (the
#                      build that ends a child after 20 s instead of minutes)
#   two_runs           two Remove.exe started at once from two folders
#   held_open          two files of the product held open by programs that
#                      outlive the run: one in its Program Files folder, gone
#                      after Wine's restart; one in the user's product data,
#                      logged and left, whose folder is swapped for a link to a
#                      canary before the restart: the canary stays
#   corrupt_registry   Uninstall entries whose values have the wrong type or
#                      no terminator, SharedDLLs counters stored as text, an
#                      installer component value past any buffer
#   non_ascii_profile  two more profiles, "Jörg" and "Даша", with the product's
#                      per-profile data
#   long_paths         the product's data folder holding paths past 260 characters
#   hostile_names      Uninstall entries of the product named like paths (".",
#                      "..", "../..", "../Canary", full-width look-alikes) and
#                      cache folders under ProgramData named so that Windows
#                      reads them as another folder, aimed at canaries; the
#                      product's InstallLocation, LocalPackage and a service's
#                      ImagePath stored with a doubled terminator
#   text_after_nul     InstallLocation, LocalPackage and ImagePath hiding text
#                      behind a NUL, a file in the suite's folder named like a
#                      path; nothing outside the product is touched or scheduled
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
machine=$top/testbed/machine
build= template= fault=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --template) template=$2; shift 2 ;;
    -*) echo "faults: unknown option $1" >&2; exit 2 ;;
    *) fault=$1; shift ;;
  esac
done
[ -n "$build" ] && [ -n "$template" ] && [ -n "$fault" ] ||
  { echo "usage: faults.sh --build DIR --template DIR FAULT" >&2; exit 2; }
build=$(cd "$build" && pwd)
manifest=$("$machine/install-scenario" --manifest full)

. "$top/scripts/lib/wine-env.sh"
wine_scenario_prefix "$template" || exit 1
# A program holding a file open must not outlive the prefix.
trap 'set +e; [ -n "${holders:-}" ] && kill $holders 2>/dev/null; wine_prefix_drop' EXIT
wine64=/usr/lib/wine/wine64
captures=$WINE_SCRATCH/captures
mkdir -p "$captures"
c=$WINEPREFIX/drive_c

. "$here/log_checks.sh"
# reg_import VIEW: imports the .reg text on standard input (UTF-8) as reg
# export writes it, UTF-16 with a byte-order mark, into the view (32 or 64).
reg_import() {
  local file=$captures/import-$RANDOM.reg
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$file"
  "$wine64" reg import "$file" /reg:$1 >/dev/null 2>&1 || fail "reg import ($1)"
}
# utf16_hex TEXT: the text as REG_SZ data, UTF-16LE bytes for a .reg file.
utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }
canary() { mkdir -p "$(dirname "$1")"; echo canary >"$1"; }

"$machine/install-scenario" --build "$build" full

program=Remove.exe
[ "$fault" = hanging_child ] && program=Remove_quick_waits.exe
support() {
  mkdir -p "$c/work/$1"
  cp "$build/bin/$program" "$c/work/$1/Remove.exe"
  cp "$build/bin/Quietus_2.1.1-2.1.4.exe" "$build/bin/Quietus_2.1.5-2.1.9.exe" "$c/work/$1/"
}
support support

# run_remove FOLDER LOG: Remove.exe in C:\work\FOLDER; its log file moves to LOG.
run_remove() {
  local rc=0 started=$(date +%s) before=$failures
  (cd "$c/work/$1" && wine "C:\\work\\$1\\Remove.exe" >"$2.console" 2>&1) || rc=$?
  echo "Remove.exe in C:\\work\\$1 ended with exit code $rc after $(($(date +%s) - started)) s"
  [ "$rc" = 0 ] || fail "exit code $rc"
  mv "$c/work/$1/QLRemover.log.txt" "$2" 2>/dev/null || { fail "no log in C:\\work\\$1"; : >"$2"; }
  has_line "$2" "Pellamore force remover version 2.1.2.12 completed OK."
  [ "$failures" = "$before" ]
}

extra_rules=$captures/extra.manifest
echo "include $manifest" >"$extra_rules"
pd=$c/ProgramData
long_tail=
case "$fault" in
  hanging_child)
    printf '[DrummetSuiteService]\r\nhang=/uninstall\r\n' >"$pd/testbed/testbed.ini" ;;
  held_open)
    echo 'ignore proc **\hold_file.exe' >>"$extra_rules"
    user_data="users/$(id -un)/AppData/Roaming/Drummets/Pellamore"
    mkdir -p "$c/$user_data"
    canary "$c/Canary/held.dat"
    holders=
    for file in 'Program Files (x86)/Drummets/Pellamore/held.dat' "$user_data/held.dat"; do
      (cd "$c/work" && exec wine "$build/bin/hold_file.exe" "C:\\${file//\//\\}" 900) &
      holders="$holders $!"
      for i in $(seq 120); do [ -f "$c/$file.holding" ] && break; sleep 1; done
      [ -f "$c/$file.holding" ] || fail "the holder of $file did not start"
    done
    # What the test made and what stays in use are no part of the comparison.
    printf 'ignore file C:\\%s\n' 'Canary' "${user_data//\//\\}" 'users\*\AppData\Roaming\Drummets' >>"$extra_rules"
    # The installer's record of the maker's folder goes with the folder in the
    # run; the folder waits for the restart, the record stays.
    echo 'residue reg HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Folders|C:\Program Files (x86)\Drummets\' >>"$extra_rules" ;;
  corrupt_registry)
    cat >"$captures/corrupt.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Corrupt types]
"DisplayName"=dword:00000001
"InstallLocation"=hex:43,00,3a,00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Corrupt terminators]
"DisplayName"=hex(1):4b,00,65,00,6c,00,6d,00,61,00,72,00
"InstallLocation"=hex(1):43,00,3a,00,5c,00,4b,00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
"C:\\Program Files (x86)\\Drummets\\Pellamore\\corrupt.dll"="1"
"C:\\Program Files (x86)\\Drummets\\DrummetLauncher.chm"="1"
REG
    "$wine64" reg import "$captures/corrupt.reg" /reg:32 >/dev/null 2>&1 || fail "reg import (32)"
    long=$(head -c 6000 /dev/zero | tr '\0' 'x')
    "$wine64" reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components\0123456789ABCDEF0123456789ABCDEF' \
      /v A52D47477B558BC4D939F12B1B3F27B6 /d "C:\\Program Files (x86)\\Drummets\\Pellamore\\$long" /f /reg:64 >/dev/null
    cat >>"$extra_rules" <<'RULES'
ignore reg HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Corrupt types
ignore reg HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Corrupt terminators
ignore reg HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components\0123456789ABCDEF0123456789ABCDEF
RULES
    ;;
  non_ascii_profile)
    for who in Jörg Даша; do
      mkdir -p "$c/users/$who/AppData/Roaming/Drummets/QELVA" "$c/users/$who/AppData/Local/VirtualStore/ProgramData/Drummets/Pellamore"
      echo "<qelva/>" >"$c/users/$who/AppData/Roaming/Drummets/QELVA/settings.xml"
      echo "[redirected]" >"$c/users/$who/AppData/Local/VirtualStore/ProgramData/Drummets/Pellamore/qelva.ini"
      echo "the user's own" >"$c/users/$who/AppData/Roaming/own.txt"
    done ;;
  long_paths)
    segment=$(printf 'deep-folder-%.0s' 1 2 3 4)   # 48 characters
    long_tail=Drummets/Pellamore/$segment/$segment/$segment/$segment/$segment/$segment
    mkdir -p "$pd/$long_tail"
    echo data >"$pd/$long_tail/file-at-the-bottom-of-a-long-path.dat"
    echo "the deepest path: $((${#long_tail} + 16 + 37)) characters" ;;
  two_runs) support second ;;
  hostile_names)
    uninstall='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
    for name in . .. ../.. ../Canary 'ＴＷＯ．．＼Canary' '．．' '．．＼．．'; do
      printf '[%s\\%s]\r\n"DisplayName"="Pellamore"\r\n\r\n' "$uninstall" "$name"
      echo "remove reg HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\\$name" >>"$extra_rules"
    done | { echo 'Windows Registry Editor Version 5.00'; echo; cat; } | reg_import 32
    # What those names reach once Windows has resolved them.
    canary "$c/Program Files (x86)/Canary/keep.txt"
    canary "$c/Program Files (x86)/InstallShield Installation Information/{11111111-2222-3333-4444-555555555555}/keep.txt"
    canary "$c/Canary/keep.txt"
    # Another program's caches, beside folders whose names Windows reads as
    # theirs (a trailing dot or blank is dropped; a full-width backslash
    # becomes a backslash in the ANSI listing).
    for name in '{cache}.' '{cache} ' '{＼..＼..＼Canary'; do
      mkdir -p "$pd/$name"; echo msi >"$pd/$name/Pellamore.msi"
    done
    canary "$pd/{cache}/keep.txt"
    # The product's own values, each with a second terminator stored.
    location=$(utf16_hex 'C:\Program Files (x86)\Drummets\Pellamore\')
    package=$("$wine64" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products\A52D47477B558BC4D939F12B1B3F27B6\InstallProperties' /v LocalPackage /reg:64 |
              tr -d '\r' | sed -n 's/.*REG_SZ *//p')
    [ -n "$package" ] || fail "no LocalPackage"
    image=$("$wine64" reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Scancore Scanning Service' /v ImagePath /reg:64 |
            tr -d '\r' | sed -n 's/.*REG_\(EXPAND_\)\{0,1\}SZ *//p')
    [ -n "$image" ] || fail "no ImagePath"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s\\Pellamore]\r\n"InstallLocation"=hex(1):%s,00,00,00,00\r\n' \
      "$uninstall" "$location" | reg_import 32
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"LocalPackage"=hex(1):%s,00,00,00,00\r\n\r\n[%s]\r\n"ImagePath"=hex(2):%s,00,00,00,00\r\n' \
      'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products\A52D47477B558BC4D939F12B1B3F27B6\InstallProperties' \
      "$(utf16_hex "$package")" 'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Scancore Scanning Service' \
      "$(utf16_hex "$image")" | reg_import 64 ;;
  text_after_nul)
    uninstall='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
    canary "$c/Data/thesis.docx"
    canary "$c/Data/ScrScanningService.exe"
    canary "$c/Program Files (x86)/Canary.txt"
    # A file of the suite's folder whose ANSI name reads "..\Canary.txt".
    echo x >"$c/Program Files (x86)/Drummets/．．＼Canary.txt"
    nul=00,00
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s\\Pellamore]\r\n"InstallLocation"=hex(1):%s,%s,%s,00,00\r\n' \
      "$uninstall" "$(utf16_hex 'C:\Data\thesis.docx')" "$nul" "$(utf16_hex '\Pellamore\')" | reg_import 32
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"LocalPackage"=hex(1):%s,%s,%s,00,00\r\n\r\n[%s]\r\n"ImagePath"=hex(2):%s,%s,%s,00,00\r\n' \
      'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products\A52D47477B558BC4D939F12B1B3F27B6\InstallProperties' \
      "$(utf16_hex 'C:\Data\thesis.docx')" "$nul" "$(utf16_hex 'C:\Windows\Installer\x.msi')" \
      'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Scancore Scanning Service' \
      "$(utf16_hex 'C:\Data\ScrScanningService.exe')" "$nul" "$(utf16_hex ' ScrScanningService.exe')" | reg_import 64 ;;
  *) echo "faults: unknown fault $fault" >&2; exit 2 ;;
esac

"$machine/snapshot" --build "$build" "$captures/before"

echo "== Remove.exe, fault $fault"
case "$fault" in
  two_runs)
    run_remove support "$captures/first.log" &
    first=$!
    run_remove second "$captures/second.log" &
    second=$!
    wait $first || fail "first run"
    wait $second || fail "second run"
    ;;
  *) run_remove support "$captures/first.log" || true ;;
esac

temp_log=$(find "$c/users" "$c/windows/temp" -path '*/Temp/QLRemover.log.txt*' 2>/dev/null | head -1)
case "$fault" in
  hanging_child)
    has_text "$captures/first.log" \
      "DrummetSuiteService.exe\" /uninstall' did not end within 20 s and was terminated; going on as if it had failed"
    [ -z "$(wine_leftover_processes "$WINEPREFIX" | grep -i DrummetSuiteService)" ] || fail "the hanging child still runs" ;;
  two_runs)
    # One run waited for the other; in the shared temporary-folder log no
    # stage heading of one run stands between the other's first heading and
    # its completion line.
    [ -n "$temp_log" ] || fail "no log in the temporary folder"
    echo "the temporary folder's log: ${temp_log#$c/}"
    waited=$(cat "$captures/first.log" "$captures/second.log" | text /dev/stdin | grep -c '^Waited .* s for the other run of the remover to end\.$' || true)
    [ "$waited" = 1 ] || fail "$waited runs say they waited, not 1"
    text "$temp_log" | grep -F -e '**** ' -e 'completed OK.' -e 'Waited ' >"$captures/sequence"
    cat "$captures/sequence"
    perl -ne '
      BEGIN { $in = 0; $bad = 0; $runs = 0 }
      if (/^\*\*\*\* Stop Pellamore processes \*\*\*\*$/) { $bad = 1 if $in; $in = 1; $runs++ }
      $in = 0 if /completed OK\.$/;
      END { exit($bad || $runs != 2 ? 1 : 0) }' "$captures/sequence" || fail "the two runs overlap in the log" ;;
  held_open)
    program_data="C:\\Program Files (x86)\\Drummets\\Pellamore\\held.dat"
    user_file="C:\\${user_data//\//\\}\\held.dat"
    has_line "$captures/first.log" "   $program_data will be removed at the next restart"
    has_line "$captures/first.log" "   C:\\Program Files (x86)\\Drummets\\Pellamore will be removed at the next restart"
    has_line "$captures/first.log" \
      "   $user_file is in use and stays: only the program and Windows folders are cleaned at the restart"
    has_line "$captures/first.log" "Still on the machine: the file or folder $user_file, in use"
    has_text "$captures/first.log" "scheduled for deletion at the next restart: restart the computer to complete the removal."
    [ -f "$c/Program Files (x86)/Drummets/Pellamore/held.dat" ] || fail "the held file went before the restart"
    kill $holders 2>/dev/null; wait $holders 2>/dev/null || true; holders=
    # A user swaps the data folder for a link to something of theirs, and the
    # machine restarts.
    mv "$c/$user_data" "$c/$user_data.moved"
    ln -s "$c/Canary" "$c/$user_data"
    echo "== Wine's restart"
    wine wineboot -r >/dev/null 2>&1 || true
    [ -f "$c/Canary/held.dat" ] || fail "the restart deleted through the swapped link"
    [ ! -e "$c/Program Files (x86)/Drummets" ] || fail "the scheduled folders are still there after the restart"
    rm "$c/$user_data"; mv "$c/$user_data.moved" "$c/$user_data" ;;
  corrupt_registry)
    # The unreadable Uninstall entries are passed over without a line; the
    # counters stored as text are the product's and the suite's by name and go
    # with the others (the launcher's own counter sorts after its text one).
    has_line "$captures/first.log" \
      ". Product information is found in the key HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pellamore"
    ! text "$captures/first.log" | grep -F -e Corrupt -e exception || fail "the log names the corrupt data"
    has_line "$captures/first.log" "   C:\\Program Files (x86)\\Drummets\\Pellamore\\corrupt.dll - not a number"
    has_line "$captures/first.log" "Removed registry value C:\\Program Files (x86)\\Drummets\\Pellamore\\corrupt.dll"
    has_line "$captures/first.log" "   C:\\Program Files (x86)\\Drummets\\DrummetLauncher.chm - not a number"
    has_line "$captures/first.log" "Removed registry value C:\\Program Files (x86)\\Drummets\\DrummetLauncher.chm" ;;
  non_ascii_profile)
    for who in Jörg Даша; do
      [ ! -e "$c/users/$who/AppData/Roaming/Drummets" ] || fail "$who's Drummets folder is still there"
      [ ! -e "$c/users/$who/AppData/Local/VirtualStore/ProgramData/Drummets" ] || fail "$who's virtual store is still there"
      [ -f "$c/users/$who/AppData/Roaming/own.txt" ] || fail "$who's own file went"
    done ;;
  long_paths)
    [ ! -e "$pd/Drummets/Pellamore" ] || {
      has_text "$captures/first.log" "will be removed at the next restart"
      fail "the long paths are still there"; } ;;
  hostile_names)
    for name in . .. ../.. ../Canary 'ＴＷＯ．．＼Canary' '．．' '．．＼．．'; do
      has_line "$captures/first.log" "Passed over '$name': not a product code !"
    done
    for name in '{cache}.' '{cache} ' '{\..\..\Canary'; do
      has_line "$captures/first.log" "Passed over '$name': not a single plain name !"
    done
    has_line "$captures/first.log" ". Installation directory: 'C:\Program Files (x86)\Drummets\Pellamore\'"
    for file in "Program Files (x86)/Canary/keep.txt" "Canary/keep.txt" "ProgramData/{cache}/keep.txt" \
                "Program Files (x86)/InstallShield Installation Information/{11111111-2222-3333-4444-555555555555}/keep.txt"; do
      [ -f "$c/$file" ] || fail "the canary C:/$file went"
    done ;;
  text_after_nul)
    has_line "$captures/first.log" ". Installation directory: 'C:\Data\thesis.docx'"
    has_line "$captures/first.log" "Folder to remove 'C:\Data\thesis.docx\Pellamore\' does NOT EXIST !"
    has_line "$captures/first.log" "Cached package C:\Data\thesis.docx is not in C:\windows\Installer\: it stays"
    has_line "$captures/first.log" "Passed over '..\Canary.txt': not a single plain name !"
    ! text "$captures/first.log" | grep -F 'will be removed at the next restart' || fail "the run scheduled a deletion"
    for file in "Data/thesis.docx" "Data/ScrScanningService.exe" "Program Files (x86)/Canary.txt"; do
      [ -f "$c/$file" ] || fail "the canary C:/$file went"
    done ;;
esac
echo "== the log's last lines"
text "$captures/first.log" | grep -v '^$' | tail -4

"$machine/snapshot" --build "$build" "$captures/after"
echo "== What the run changed, against the manifest of full"
if [ "$fault" = text_after_nul ]; then
  # The registry names no folder of the product: what the run cannot find
  # stays, and nothing else may go.
  "$machine/machine-state" diff --summary --manifest "$extra_rules" "$captures/before" "$captures/after" |
    tee "$captures/diff"
  grep -q 'wrongly removed 0\.$' "$captures/diff" || fail "the run removed what is not the product's"
else
  "$machine/machine-state" diff --summary --fail --manifest "$extra_rules" "$captures/before" "$captures/after" ||
    fail "the removal differs from the manifest"
fi

if [ "$failures" -gt 0 ]; then
  echo "== The log"
  cat "$captures/first.log"
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok"
