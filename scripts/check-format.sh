#!/usr/bin/env bash
# Checks (or with --fix, applies) clang-format on our own C++ and JavaScript sources: the page
# scripts and modules, the tests and the benchmarks; then lints the JavaScript with ESLint
# (eslint.config.mjs), which --fix leaves to be mended by hand, and checks that the page's
# modules import one another one way only (scripts/check-imports.mjs). The vendored npm files
# are not ours to format or lint.
# The remote python3 programs and their tests are compiled, which checks their syntax.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t python_files < <(git ls-files -co --exclude-standard 'src/*.py' 'tests/*.py')
if ((${#python_files[@]})); then
  # The compiled files go to a scratch folder, not beside the sources.
  cache=$(mktemp -d)
  trap 'rm -rf "$cache"' EXIT
  PYTHONPYCACHEPREFIX=$cache python3 -m py_compile "${python_files[@]}"
  echo "python: ${#python_files[@]} files compile"
fi
mapfile -t files < <(git ls-files -co --exclude-standard \
  'src/*.cc' 'src/*.h' 'tests/*.cc' 'tests/*.h' 'bench/*.cc' 'bench/*.h' \
  'web/js/*.js' 'tests/*.mjs' 'bench/*.mjs' 'scripts/*.mjs' 'eslint.config.mjs')
((${#files[@]})) || exit 0
if [[ ${1:-} == --fix ]]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files clean"
fi
node_modules/.bin/eslint --max-warnings=0 .
echo "lint: clean"
node scripts/check-imports.mjs
