#!/bin/bash
# Fails when a C or C++ file of the repository differs from what the pinned
# formatter (Debian 12's clang-format 14, installed by install-deps.sh) makes
# of it under the root's .clang-format. With --fix it formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
# The formatter's complaints stay in a variable: a file of a fixed name in
# /tmp, written as root, could be a planted symlink to any file.
if ! report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1 >/dev/null); then
    printf '%s\n' "$report" | grep -E '^[^ ].*: (error|warning):' | cut -d: -f1 | sort -u |
        sed 's/^/check-format: not formatted: /' >&2
    echo "check-format: run 'bash scripts/check-format.sh --fix'" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files formatted"
