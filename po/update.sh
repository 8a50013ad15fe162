#!/bin/sh
# Regenerates the message template po/tavrel.pot from the tool's sources and
# merges it into every catalogue listed in po/LINGUAS:
#   sh po/update.sh            update tavrel.pot and the catalogues
#   sh po/update.sh --check    change nothing; fail when tavrel.pot lags
#                              behind the sources, or a catalogue lacks a
#                              message or has one untranslated or fuzzy
set -eu
po=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$po")
check=no
[ "${1:-}" = "--check" ] && check=yes

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Paths relative to the root keep the references the same on every machine.
cd "$root"
version=$(sed -n 's/^project(Tavrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
xgettext --language=C++ --from-code=UTF-8 --add-comments=TRANSLATORS: \
    --keyword=Tr --keyword=TrIn:1c,2 --keyword=TrLater \
    --package-name=tavrel --package-version="$version" \
    --copyright-holder="the Tavrel authors" --msgid-bugs-address="" \
    --sort-by-file --output="$scratch/tavrel.pot" cli/*.cpp formats/*.cpp 2>"$scratch/xgettext.log" || {
    cat "$scratch/xgettext.log" >&2
    exit 1
}
# The tool has no address for bug reports; xgettext's advice to give one is
# left out, anything else it says is shown.
grep -v -e 'msgid-bugs-address' -e 'Makevars' -e 'MSGID_BUGS_ADDRESS' \
    "$scratch/xgettext.log" >&2 || true

# The messages alone: the header carries a creation date.
messages() { msgcat --no-location --sort-output "$1" | sed '1,/^$/d'; }

status=0
if [ "$check" = yes ]; then
    messages "$po/tavrel.pot" >"$scratch/committed"
    messages "$scratch/tavrel.pot" >"$scratch/current"
    if ! cmp -s "$scratch/committed" "$scratch/current"; then
        echo "po/tavrel.pot is out of date; run sh po/update.sh" >&2
        diff "$scratch/committed" "$scratch/current" >&2 || true
        status=1
    fi
else
    cp "$scratch/tavrel.pot" "$po/tavrel.pot"
fi

for language in $(grep -v '^#' "$po/LINGUAS"); do
    catalogue="$po/$language.po"
    if [ "$check" = no ]; then
        msgmerge --quiet --update --backup=none --no-fuzzy-matching "$catalogue" "$po/tavrel.pot"
    fi
    if ! msgcmp "$catalogue" "$po/tavrel.pot"; then
        status=1
    fi
    if ! report=$(LC_ALL=C msgfmt --check --statistics -o /dev/null "$catalogue" 2>&1); then
        echo "$report" >&2
        status=1
    fi
    case "$report" in
        *untranslated* | *fuzzy*)
            echo "po/$language.po: $report" >&2
            status=1 ;;
    esac
done
exit $status
