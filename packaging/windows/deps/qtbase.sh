#!/usr/bin/env bash
# Qt 6.4 qtbase for Windows: Core, Gui, Widgets, the windows platform plugin
# and Test, as DLLs. moc, rcc and uic come from Debian's own qt6-base-dev of
# the same version (QT_HOST_PATH). Qt's bundled zlib, PCRE2, libpng and
# HarfBuzz; everything Quillmar does not use is off.
source "$(dirname "$0")/lib.sh"
src=$(unpack qt6-base)

# The platform plugin includes wintab.h, whose folder the +dfsg tarball lacks.
dpkg-deb -x "$(ls "$QM_SRC"/libwine-dev_*.deb)" wine-dev
wintab=$src/src/3rdparty/wintab
mkdir -p "$wintab"
cp wine-dev/usr/include/wine/wine/windows/wintab.h "$wintab/wine-wintab.h"
cp wine-dev/usr/include/wine/wine/windows/pktdef.h "$wintab/pktdef.h"
cp "$QM_DEPS_DIR/qtbase-wintab.h" "$wintab/wintab.h"

off=()
for f in sql network dbus vulkan printsupport concurrent xml icu glib \
         freetype fontconfig jpeg gif system_zlib system_pcre2 system_png \
         system_harfbuzz; do
  off+=("-DFEATURE_$f=OFF")
done
# No OpenGL: INPUT_opengl=no also turns off dynamicgl, which FEATURE_opengl=OFF
# alone leaves on (and the platform plugin then does not compile).
cmake_cross "$src" build -DBUILD_SHARED_LIBS=ON -DINPUT_opengl=no \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_testlib=ON \
  -DFEATURE_widgets=ON "${off[@]}"
# The file that includes the wintab stand-in first, so that a failure there
# shows within minutes rather than at the end of the build.
tablet=$(ninja -C build -t targets all |
         sed -n 's/^\(.*qwindowstabletsupport\.cpp\.o\(bj\)\{0,1\}\): .*/\1/p' | head -n 1)
[ -n "$tablet" ] || { echo "qtbase: no qwindowstabletsupport target" >&2; exit 1; }
ninja -C build -j "$QM_JOBS" "$tablet"
cmake --build build --parallel "$QM_JOBS"
cmake --install build
