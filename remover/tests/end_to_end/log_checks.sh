# Sourced by the end-to-end scripts: a count of failed checks, and checks of
# the lines a run wrote to its log.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# text LOG: the log's texts, without byte-order mark, stamps and carriage returns.
text() { sed 's/^\xef\xbb\xbf//; s/\r$//; s/^[0-9/]* [0-9:]* .  //' "$1"; }
has_line() { text "$1" | grep -qxF -- "$2" || fail "no line \"$2\" in ${1##*/}"; }
has_text() { text "$1" | grep -qF -- "$2" || fail "no line with \"$2\" in ${1##*/}"; }
