#!/usr/bin/env bash
# The comparison's rules on two small hand-made captures: every category of
# the report, the rule order, patterns (wildcards, literal "*", %PROFILE%,
# an item's subtree), --fail and match. No Wine needed.
set -u
state=$(cd "$(dirname "$0")/.." && pwd)/machine-state
work=$(mktemp -d "${TMPDIR:-/tmp}/diff-rules.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
check() { # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
has() { grep -qxF -- "$1" "$work/report"; }
lacks() { ! grep -qF -- "$1" "$work/report"; }
# capture FILE: tab-separated items from "KIND | ID | DATA" lines on stdin.
capture() { sed 's/ | /\t/g' >"$1"; }

capture "$work/before" <<'ITEMS'
meta | profile | C:\users\alex
file | C:\App | dir
file | C:\App\a.exe | file 10 1
file | C:\App\sub | dir
file | C:\App\sub\b.dll | file 20 1
file | C:\App Labs\c.dll | file 30 1
file | C:\users\alex\Desktop\App.lnk | file 1 1
file | C:\users\bo\Desktop\App.lnk | file 1 1
file | C:\Noise\log.txt | file 5 1
reg | HKLM\Software\Classes\*\shell\scan_with_App | key
reg | HKLM\Software\Classes\*\shell\open | key
reg | HKLM\Software\SharedDLLs|C:\App\sub\b.dll | dword:00000002
reg | HKLM\Software\SharedDLLs|C:\Other\d.dll | dword:00000001
reg | HKLM\Software\Vendor | key
reg | HKLM\Software\Vendor|Version | "1"
svc | App Service | running demand C:\App\svc.exe
proc | C:\App\a.exe | x1
ITEMS
capture "$work/after" <<'ITEMS'
file | C:\App | dir
file | C:\App\sub | dir
file | C:\App\sub\b.dll | file 20 1
file | C:\users\bo\Desktop\App.lnk | file 1 1
file | C:\Noise\log.txt | file 6 2
file | C:\Noise\new.txt | file 1 2
file | C:\New.log | file 1 2
reg | HKLM\Software\Classes\*\shell\open | key
reg | HKLM\Software\SharedDLLs|C:\App\sub\b.dll | dword:00000001
reg | HKLM\Software\Vendor | key
reg | HKLM\Software\Vendor|Version | "2"
ITEMS
cat >"$work/manifest" <<'RULES'
# a comment
ignore file C:\Noise
remove file C:\App
keep file C:\App\sub\b.dll
remove file %PROFILE%\Desktop\App.lnk
remove reg HKLM\Software\Classes\[*]\shell\scan_with_App
keep reg HKLM\Software\SharedDLLs|C:\App\**
remove svc App Service
remove proc C:\App\*.exe
residue reg HKLM\Software\Vendor
RULES

"$state" diff --manifest "$work/manifest" "$work/before" "$work/after" >"$work/report"
check "diff succeeds without --fail" test $? -eq 0
check "removed items are counted by kind" \
  has "Removed as the manifest expects: 5 (services 1, processes 1, files 2, registry 1)"
check "a removed file is listed" has "  file C:\\App\\a.exe"
check "the current user's profile stands for %PROFILE%" has "  file C:\\users\\alex\\Desktop\\App.lnk"
check "[*] is the key named *, not every key" lacks "shell\\open"
check "what remove rules name and is still there is left behind" has "Left behind: 2 (files 2)"
check "the left-behind folder is shown once with what is below it" has "  file C:\\App  (+1 below)"
check "a later keep rule wins over an earlier remove rule" lacks "C:\\App\\sub\\b.dll  "
check "a pattern does not reach into a folder that only begins like it" has "  file C:\\App Labs\\c.dll"
check "removals outside the manifest are wrongly removed" has "Wrongly removed (not in the manifest): 2 (files 1, registry 1)"
check "another profile's shortcut is not %PROFILE%'s" lacks "bo\\Desktop"
check "a removed counter of another program is wrongly removed" has "  reg  HKLM\\Software\\SharedDLLs|C:\\Other\\d.dll"
check "residue is counted, not listed" has "Known residue: 2 left, 0 removed"
check "ignored items are never reported" lacks "Noise"
check "added items are listed" has "  file C:\\New.log"
check "a kept counter that dropped is a change" \
  has "  reg  HKLM\\Software\\SharedDLLs|C:\\App\\sub\\b.dll: dword:00000002 -> dword:00000001"

"$state" diff --manifest "$work/manifest" --fail "$work/before" "$work/after" >/dev/null
check "--fail reports left-behind or wrongly removed items by its exit code" test $? -eq 1
grep -v '^remove\|^keep' "$work/manifest" >"$work/quiet"
"$state" diff --manifest "$work/quiet" --fail "$work/before" "$work/before" >/dev/null
check "--fail passes when nothing is left behind or wrongly removed" test $? -eq 0

printf 'remove file C:\\Nowhere\nkeep svc Missing Service\nremove file C:\\App\n' >"$work/unmatched"
"$state" match "$work/unmatched" "$work/before" >"$work/report"
check "match fails when a rule matches nothing" test $? -eq 1
check "match names each rule that matches nothing" has "$work/unmatched:1: remove file C:\\Nowhere"
check "match names keep rules too" has "$work/unmatched:2: keep svc Missing Service"
check "match passes rules that match" lacks ":3:"

printf 'remove nothing C:\\App\n' >"$work/bad"
"$state" diff --manifest "$work/bad" "$work/before" "$work/after" >/dev/null 2>"$work/report"
check "a malformed rule is refused with its line" has "machine-state: $work/bad:1: expected VERB KIND PATTERN"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
