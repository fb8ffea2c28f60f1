#!/usr/bin/env bash
# The options a manual page lists are the options its program's --help lists.
#   manpage_options.sh PROGRAM PAGE
# PAGE is a page file, or a name that man looks up among the installed pages.
set -euo pipefail
program=$1 page=$2

# The long option of each entry of an option list: "  -d, --device PATH".
option_names() {
  grep -E '^ +(-[A-Za-z], )?--[a-z]' | sed -E 's/^ +(-[A-Za-z], )?(--[a-z][a-z-]*).*/\2/' | sort
}

from_help=$("$program" --help | sed -n '/^Options:/,/^[A-Z]/p' | option_names)
if [ -f "$page" ]; then where=(-l "$page"); else where=("$page"); fi
from_page=$(LC_ALL=C MANWIDTH=80 man "${where[@]}" 2>/dev/null | sed -n '/^OPTIONS/,/^[A-Z]/p' | option_names)

if [ -z "$from_help" ] || [ "$from_help" != "$from_page" ]; then
  echo "the options of $page differ from $program --help:" >&2
  diff <(echo "$from_help") <(echo "$from_page") >&2 || true
  exit 1
fi
echo "$page lists the $(echo "$from_help" | wc -l) options of $program --help"
