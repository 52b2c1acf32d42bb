#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what a user gets:
# examples/ configures and builds against the installed CMake package alone,
# the example runs, and the installed tool finds its library.
#
#   install_example.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
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

# The README's first program, taken from the README as it stands, built the
# way the README says a pkg-config caller builds against another prefix, and
# run.
sed -n '/<!-- tour:begin -->/,/<!-- tour:end -->/p' "$source_dir/README.md" | sed '1,2d;$d' | sed '$d' \
  >"$work/run/tour.cpp"
libdir=$(dirname "$(find "$prefix" -name TesselWrapper.pc | head -n 1)")/..
# CXXFLAGS and LDFLAGS carry what the caller's build needs besides, as for a
# sanitized library (TESSEL_CONSUMER_ENV in cmake/TesselOptions.cmake).
read -ra cxxflags <<<"${CXXFLAGS:-}"
read -ra ldflags <<<"${LDFLAGS:-}"
c++ -std=c++20 "${cxxflags[@]}" "$work/run/tour.cpp" "${ldflags[@]}" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs TesselWrapper) \
  -Wl,-rpath,"$(cd "$libdir" && pwd)" -o "$work/run/tour"
env -u LD_LIBRARY_PATH "$work/run/tour"

# The installed tool, with only its RPATH to find the library.
env -u LD_LIBRARY_PATH "$prefix/bin/tessel" --version
env -u LD_LIBRARY_PATH "$prefix/bin/tessel" test --db "sqlite:$work/run/example.db"
test "$(env -u LD_LIBRARY_PATH "$prefix/bin/tessel" ids --db "sqlite:$work/run/tour.db" models/tour 2>/dev/null)" = "3:12;"
echo "install and example: ok"
