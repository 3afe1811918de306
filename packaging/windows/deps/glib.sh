#!/usr/bin/env bash
# GLib 2.74 (GMime's base): meson, shared, no translations, documentation or
# tests, and none of the Linux-only parts.
source "$(dirname "$0")/lib.sh"
src=$(unpack glib2.0)
meson_cross "$src" build -Dtests=false -Dinstalled_tests=false -Dnls=disabled \
  -Dman=false -Dgtk_doc=false -Dlibelf=disabled -Dxattr=false \
  -Dselinux=disabled -Dlibmount=disabled -Dsysprof=disabled \
  -Ddtrace=false -Dsystemtap=false
meson compile -C build -j "$QM_JOBS"
meson install -C build
