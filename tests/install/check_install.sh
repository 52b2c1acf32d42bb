#!/usr/bin/env bash
# check_install.sh BUILD_DIR CONSUMER_SRC WORK_DIR
# Installs BUILD_DIR into WORK_DIR/prefix, then builds and runs the consumer
# with find_package(TesselWrapper CONFIG) and with pkg-config.
set -euo pipefail
build=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# The installed tree holds the umbrella header, the library and both package files.
test -f "$prefix/include/TesselWrapper/TesselWrapper.h"
test -f "$prefix/lib/cmake/TesselWrapper/TesselWrapperConfig.cmake" || test -f "$prefix/lib64/cmake/TesselWrapper/TesselWrapperConfig.cmake"
pc=$(find "$prefix" -name TesselWrapper.pc | head -n 1)
test -n "$pc"

cmake -S "$src" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
(cd "$work" && "$work/cmake-build/consumer")

libdir=$(dirname "$(find "$prefix" -name 'libTesselWrapper.so' | head -n 1)")
# shellcheck disable=SC2086 # CXXFLAGS/LDFLAGS are word lists
PKG_CONFIG_PATH=$(dirname "$pc") c++ ${CXXFLAGS:-} ${LDFLAGS:-} -o "$work/consumer-pc" "$src/consumer.cpp" \
  $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs TesselWrapper) -Wl,-rpath,"$libdir"
(cd "$work" && "$work/consumer-pc")
echo "install.consumer: both consumers ran"
