#!/usr/bin/env bash
# iconv: GMime needs a real iconv. Debian has neither libiconv nor win-iconv
# as source, but GLib carries win-iconv (glib/win_iconv.c, on Windows' own
# code page conversions); it is built here as libiconv-2.dll with a header
# for the three functions it exports.
source "$(dirname "$0")/lib.sh"
src=$(unpack glib2.0)
$CC $CFLAGS -c "$src/glib/win_iconv.c" -o win_iconv.o
$CC -shared -o libiconv-2.dll win_iconv.o -Wl,--out-implib,libiconv.dll.a
cat >iconv.h <<'HEADER'
/* iconv for the Windows dependency prefix: GLib's win_iconv.c as
 * libiconv-2.dll (see packaging/windows/deps/iconv.sh). */
#ifndef QUILLMAR_WIN_ICONV_H
#define QUILLMAR_WIN_ICONV_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
typedef void *iconv_t;
iconv_t iconv_open(const char *tocode, const char *fromcode);
int iconv_close(iconv_t cd);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft,
             char **outbuf, size_t *outbytesleft);
#ifdef __cplusplus
}
#endif
#endif
HEADER
mkdir -p "$QM_PREFIX"/{bin,include,lib}
install -m 644 iconv.h "$QM_PREFIX/include/"
install -m 755 libiconv-2.dll "$QM_PREFIX/bin/"
install -m 644 libiconv.dll.a "$QM_PREFIX/lib/"
