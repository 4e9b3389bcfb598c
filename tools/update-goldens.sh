#!/usr/bin/env bash
# Rewrites the golden pictures under tests/ from the current rendering.
# Run it only when a change of the pictures is intended, then look at the
# rewritten PNGs (git diff shows which) before committing them.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-asan}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
KESTREL_UPDATE_GOLDENS=1 ctest --preset "$preset" -R Golden
git status --short -- 'tests/*golden*'
