#!/usr/bin/env bash
# nlohmann-json: headers with their CMake package and pkg-config file.
source "$(dirname "$0")/lib.sh"
src=$(unpack nlohmann-json3)
cmake_cross "$src" build -DJSON_BuildTests=OFF -DJSON_Install=ON
cmake --install build
