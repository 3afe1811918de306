#!/usr/bin/env bash
# ICU 72 (collation, normalisation, charset detection): ICU's cross build
# needs a native build of the same source for its data tools, so that comes
# first; then the Windows libraries, the data as one DLL (icudt72.dll).
source "$(dirname "$0")/lib.sh"
src=$(unpack icu)/source
common=(--disable-tests --disable-samples --disable-extras --disable-icuio
        --disable-layoutex)

mkdir host
(cd host &&
  env -u CC -u CXX -u AR -u RANLIB -u STRIP -u NM -u CPPFLAGS -u LDFLAGS \
      -u PKG_CONFIG_LIBDIR "$src/configure" "${common[@]}" &&
  make -j"$QM_JOBS")

mkdir cross
cd cross
"$src/configure" --host="$HOST" --prefix="$QM_PREFIX" \
  --with-cross-build="$QM_WORK/host" "${common[@]}" --disable-tools \
  --with-data-packaging=library --enable-shared --disable-static
make -j"$QM_JOBS"
make install
