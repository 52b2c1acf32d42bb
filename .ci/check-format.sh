#!/usr/bin/env bash
# Every C++ file of the project is as clang-format (the Debian package,
# version 14, with .clang-format) lays it out; third_party/ is left as its
# authors wrote it. Prints the files that differ and fails on any.
# To mend: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "format: installing clang-format" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-format >/dev/null
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp' '*.cc' | grep -v '^third_party/')
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "format: these files differ from clang-format's layout:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files as clang-format lays them out"
