#!/usr/bin/env bash
# libffi (GLib's GObject needs it), as a DLL.
source "$(dirname "$0")/lib.sh"
cd "$(unpack libffi)"
configure_cross --enable-shared --disable-static --disable-docs \
  --disable-multi-os-directory
make -j"$QM_JOBS"
make install
