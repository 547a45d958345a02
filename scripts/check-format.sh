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
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/kelvra-format.$$; then
    grep -E '^[^ ].*: (error|warning):' /tmp/kelvra-format.$$ | cut -d: -f1 | sort -u |
        sed 's/^/check-format: not formatted: /' >&2
    rm -f /tmp/kelvra-format.$$
    echo "check-format: run 'bash scripts/check-format.sh --fix'" >&2
    exit 1
fi
rm -f /tmp/kelvra-format.$$
echo "check-format: ${#files[@]} files formatted"
