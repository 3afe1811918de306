#!/usr/bin/env bash
# GMime 3 (MIME parsing): autotools from the git-like Debian tarball, without
# crypto, IDN, introspection or Vala; only its library is built.
source "$(dirname "$0")/lib.sh"
cd "$(unpack gmime)"
gtkdocize --copy
touch ChangeLog
autoreconf -fi

# configure finds iconv's preferred charset names by running iconv-detect.c,
# which a cross build cannot: it is built for Windows and run under Wine
# here, and configure told the header exists.
$CC $CFLAGS $CPPFLAGS iconv-detect.c -o iconv-detect.exe $LDFLAGS -liconv
wine_run ./iconv-detect.exe
grep -q ICONV_ISO_INT_FORMAT iconv-detect.h

configure_cross --enable-shared --disable-static --disable-crypto \
  --without-libidn --disable-introspection --disable-vala \
  --disable-gtk-doc ac_cv_have_iconv_detect_h=yes LIBS=-liconv
make -j"$QM_JOBS" -C util
make -j"$QM_JOBS" -C gmime
make -C gmime install
make install-pkgconfigDATA
