#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what a user gets:
# examples/ configures and builds against the installed CMake package alone,
# the example runs, and the installed tool finds its library.
#
#   install_example.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build_dir=$1
source_dir=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/tessel-install-XXXXXX")
trap 'rm -rf "$work"' EXIT

prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log"

# Nothing of the source or build tree may leak into the example's build: it
# sees only the prefix.
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$source_dir/examples" -B "$work/example-build" "${generator[@]}" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Debug >"$work/configure.log"
cmake --build "$work/example-build" >"$work/build.log"

mkdir "$work/run"
cd "$work/run"
env -u LD_LIBRARY_PATH "$work/example-build/tessel_example" "sqlite:$work/run/example.db"

# The installed tool, with only its RPATH to find the library.
env -u LD_LIBRARY_PATH "$prefix/bin/tessel" --version
env -u LD_LIBRARY_PATH "$prefix/bin/tessel" test --db "sqlite:$work/run/example.db"
echo "install and example: ok"
