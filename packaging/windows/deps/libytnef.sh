#!/usr/bin/env bash
# libytnef (winmail.dat): autotools, the library only. libtool makes a DLL
# only when told that the library has no undefined symbols. Its headers go
# to include/ytnef (libytnef.pc points there): among them is a mapi.h of its
# own, which must not hide mingw-w64's <mapi.h> from every other file.
source "$(dirname "$0")/lib.sh"
cd "$(unpack libytnef)"
autoreconf -fi
configure_cross --enable-shared --disable-static --includedir="$QM_PREFIX/include/ytnef"
make -j"$QM_JOBS" -C lib LDFLAGS="$LDFLAGS -no-undefined"
make -C lib install
