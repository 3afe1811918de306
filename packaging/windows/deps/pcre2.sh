#!/usr/bin/env bash
# PCRE2 (GLib's GRegex), 8-bit code units with Unicode support only.
source "$(dirname "$0")/lib.sh"
cd "$(unpack pcre2)"
configure_cross --enable-shared --disable-static --enable-pcre2-8 \
  --disable-pcre2-16 --disable-pcre2-32 --enable-unicode
make -j"$QM_JOBS"
make install
