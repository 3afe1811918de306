# Sourced by every recipe: the cross tools, the flags shared by all builds,
# and a helper to unpack a fetched source package. build-prefix exports
# QM_PREFIX (install here), QM_SRC (the fetched packages), QM_WORK (this
# step's empty scratch folder, the working directory) and QM_JOBS.
set -euo pipefail
: "${QM_PREFIX:?run the recipes through build-prefix}" "${QM_SRC:?}" "${QM_WORK:?}" "${QM_JOBS:?}"

QM_DEPS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export HOST=x86_64-w64-mingw32
# The -posix compilers: std::thread and friends need the posix thread model.
export CC=$HOST-gcc-posix CXX=$HOST-g++-posix
export AR=$HOST-ar RANLIB=$HOST-ranlib STRIP=$HOST-strip
export WINDRES=$HOST-windres RC=$HOST-windres NM=$HOST-nm DLLTOOL=$HOST-dlltool
export CFLAGS="-O2" CXXFLAGS="-O2"
export CPPFLAGS="-I$QM_PREFIX/include" LDFLAGS="-L$QM_PREFIX/lib"
# pkg-config sees only the prefix, never the build machine's libraries.
export PKG_CONFIG=pkg-config PKG_CONFIG_LIBDIR=$QM_PREFIX/lib/pkgconfig PKG_CONFIG_PATH=
export QM_WINDOWS_PREFIX=$QM_PREFIX

# unpack PACKAGE: extracts the fetched source package into the scratch folder
# (Debian's patches applied) and prints the folder's path.
unpack() {
  local dsc
  dsc=$(ls "$QM_SRC/$1"_*.dsc)
  dpkg-source --no-check -x "$dsc" "$QM_WORK/$1" >/dev/null
  echo "$QM_WORK/$1"
}

# configure_cross ARGS...: an autotools configure for the Windows host,
# installing into the prefix.
configure_cross() {
  ./configure --host="$HOST" --prefix="$QM_PREFIX" "$@"
}

# meson_cross SRCDIR BUILDDIR OPTIONS...: a meson setup for Windows through
# cross.meson. The compiler variables above are for autotools only: meson
# would take them for the build machine's compilers.
meson_cross() {
  local src=$1 build=$2
  shift 2
  printf "[constants]\nprefix = '%s'\n" "$QM_PREFIX" >"$QM_WORK/prefix.meson"
  env -u CC -u CXX -u AR -u RANLIB -u STRIP -u WINDRES -u RC -u NM -u DLLTOOL \
      -u CFLAGS -u CXXFLAGS -u CPPFLAGS -u LDFLAGS \
    meson setup "$build" "$src" \
      --cross-file "$QM_WORK/prefix.meson" --cross-file "$QM_DEPS_DIR/cross.meson" \
      --prefix "$QM_PREFIX" --libdir lib --buildtype release \
      -Ddefault_library=shared --wrap-mode=nodownload "$@"
}

# wine_run PROGRAM.exe ARGS...: runs a freshly built Windows program with the
# prefix's DLLs (Wine prefix and quiet output come from build-prefix).
wine_run() {
  WINEPATH="Z:${QM_PREFIX//\//\\}\\bin" wine "$@"
}

# cmake_cross SRCDIR BUILDDIR OPTIONS...: a CMake/Ninja setup for Windows
# through toolchain.cmake, installing into the prefix.
cmake_cross() {
  local src=$1 build=$2
  shift 2
  env -u CC -u CXX -u CFLAGS -u CXXFLAGS -u CPPFLAGS -u LDFLAGS \
    cmake -S "$src" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$QM_DEPS_DIR/toolchain.cmake" \
      -DCMAKE_INSTALL_PREFIX="$QM_PREFIX" -DCMAKE_BUILD_TYPE=Release "$@"
}
