#!/usr/bin/env bash
# intl: GLib 2.74 needs libintl even with -Dnls=disabled, and Debian has no
# gettext runtime for mingw-w64; the pass-through one in intl/ stands in.
# A DLL, since libtool refuses to link static archives into GMime's DLL.
source "$(dirname "$0")/lib.sh"
src=$QM_DEPS_DIR/intl
$CC $CFLAGS -Wall -Wextra -Werror -c "$src/intl.c" -o intl.o
$CC -shared -o libintl-8.dll intl.o -Wl,--out-implib,libintl.dll.a
mkdir -p "$QM_PREFIX"/{bin,include,lib}
install -m 644 "$src/libintl.h" "$QM_PREFIX/include/"
install -m 755 libintl-8.dll "$QM_PREFIX/bin/"
install -m 644 libintl.dll.a "$QM_PREFIX/lib/"
