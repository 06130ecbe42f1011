#!/usr/bin/env bash
# Usage: check-manual-page.sh PAGE.scd PROGRAM [ARGUMENTS...]
# Runs PROGRAM ARGUMENTS (its help) and checks that the manual page and the help name the same
# options, and every command the help lists under "Commands:": each appears in bold (*name*)
# in the page, and each option the page's OPTIONS section lists is in the help.
set -uo pipefail
page=$1
shift
help=$("$@" 2>&1)
[ -n "$help" ] || { echo "no help text from: $*"; exit 1; }

help_options=$(grep -oE '(^|[[:space:],[])--?[a-z][a-z-]*' <<<"$help" | grep -oE -- '--?[a-z-]+' | sort -u)
help_commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | sort -u)
# The page's options: the bold terms that start a line in the OPTIONS section.
page_options=$(sed -n '/^# OPTIONS/,/^# /p' "$page" | grep -oE '^\*--?[a-z-]+\*(, \*--?[a-z-]+\*)*' |
    grep -oE -- '--?[a-z-]+' | sort -u)

status=0
for name in $help_options $help_commands; do
    if ! grep -qF -- "*$name*" "$page"; then
        echo "$(basename "$page"): the help names $name, the page does not"
        status=1
    fi
done
for name in $page_options; do
    if ! grep -qE -- "(^|[^a-z-])$name([^a-z-]|\$)" <<<"$help"; then
        echo "$(basename "$page"): the page lists $name, the help does not"
        status=1
    fi
done
exit $status
