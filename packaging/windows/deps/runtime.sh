#!/usr/bin/env bash
# The mingw-w64 runtime DLLs that the C++ libraries above (Qt, ICU) and
# programs built against them load: copied from the cross compiler into the
# prefix's bin/, so that one folder holds every DLL a program needs. Their
# debugging symbols go (libstdc++-6.dll shrinks from 23 MB to 4 MB).
source "$(dirname "$0")/lib.sh"
mkdir -p "$QM_PREFIX/bin"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  path=$($CXX -print-file-name="$dll")
  [ -f "$path" ] || { echo "runtime: $dll not found ($path)" >&2; exit 1; }
  install -m 755 "$path" "$QM_PREFIX/bin/"
  $STRIP --strip-debug "$QM_PREFIX/bin/$dll"
done
