#!/usr/bin/env bash
# The installed documents as a reader finds them: every relative link of
# every installed Markdown file (the pictures too) names an installed file,
# and every path into the documentation folder that --help or a manual page
# names is installed.
#   doc_links.sh ROOT DOCDIR BINDIR MANDIR      (an install under ROOT, / for the packages)
#   doc_links.sh --install BUILD DOCDIR BINDIR MANDIR
# The second form first installs BUILD's Tools component into a new folder.
set -euo pipefail
if [ "$1" = --install ]; then
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    DESTDIR=$root cmake --install "$2" --component Tools >/dev/null
    shift 2
else
    root=$1
    shift
fi
docdir=$1 bindir=$2 mandir=$3
failed=0
broken() { echo "$*" >&2; failed=1; }

docs=$(find "$root$docdir" -name '*.md')
[ -n "$docs" ] || broken "no documents in $root$docdir"
for doc in $docs; do
    while IFS= read -r target; do
        case $target in http://* | https://* | mailto:* | '#'*) continue ;; esac
        [ -e "$(dirname "$doc")/${target%%#*}" ] || broken "${doc#"$root"}: the link to $target leads nowhere"
    done < <(grep -o '](\([^)]*\))' "$doc" | sed 's/^](\(.*\))$/\1/')
done

named=$({ "$root$bindir/servoctl" --help; "$root$bindir/servosim" --help;
          zcat "$root$mandir"/man1/servoctl.1.gz "$root$mandir"/man1/servosim.1.gz | sed 's/\\-/-/g'; } \
        | grep -o "$docdir/[^ )\"'\\\\]*" | sed 's/[.,]$//' | sort -u)
[ -n "$named" ] || broken "neither --help nor a manual page names $docdir"
for path in $named; do
    [ -e "$root$path" ] || broken "named but not installed: $path"
done
exit $failed
