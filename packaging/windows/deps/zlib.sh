#!/usr/bin/env bash
# zlib: its Makefile assumes the host and its CMake file needs the win32/
# folder that Debian's dfsg tarball lacks, so the library sources are
# compiled here directly: zlib1.dll with its import library libz.dll.a, the
# static libz.a, and zlib.pc from the package's own template.
source "$(dirname "$0")/lib.sh"
cd "$(unpack zlib)"

sources=(adler32 compress crc32 deflate gzclose gzlib gzread gzwrite
         infback inffast inflate inftrees trees uncompr zutil)
for s in "${sources[@]}"; do
  $CC $CFLAGS -c "$s.c" -o "$s.o"
done
objects=("${sources[@]/%/.o}")
$AR rcs libz.a "${objects[@]}"
$CC -shared -o zlib1.dll "${objects[@]}" -Wl,--out-implib,libz.dll.a

version=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' zlib.h)
mkdir -p "$QM_PREFIX"/{bin,include,lib/pkgconfig}
install -m 644 zlib.h zconf.h "$QM_PREFIX/include/"
install -m 755 zlib1.dll "$QM_PREFIX/bin/"
install -m 644 libz.a libz.dll.a "$QM_PREFIX/lib/"
sed -e "s|@prefix@|$QM_PREFIX|" -e 's|@exec_prefix@|${prefix}|' \
    -e 's|@libdir@|${exec_prefix}/lib|' -e 's|@sharedlibdir@|${libdir}|' \
    -e 's|@includedir@|${prefix}/include|' -e "s|@VERSION@|$version|" \
    zlib.pc.in >"$QM_PREFIX/lib/pkgconfig/zlib.pc"
