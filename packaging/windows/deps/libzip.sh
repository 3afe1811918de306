#!/usr/bin/env bash
# libzip as a DLL on the prefix's zlib, with Windows' own cryptography
# (BCrypt/CNG) for WinZip AES and the traditional PKWARE encryption built
# in; no OpenSSL, GnuTLS or mbed TLS, no bzip2 or LZMA, and neither its
# tools, regression tests, examples nor manual pages.
source "$(dirname "$0")/lib.sh"
src=$(unpack libzip)
cmake_cross "$src" build -DBUILD_SHARED_LIBS=ON \
  -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_OPENSSL=OFF -DENABLE_GNUTLS=OFF \
  -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF \
  -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
# The configuration must have found Windows' cryptography: without it libzip
# builds silently without any AES.
grep -q '^#define HAVE_WINDOWS_CRYPTO' build/config.h ||
  { echo "libzip: Windows cryptography not enabled" >&2; exit 1; }
cmake --build build --parallel "$QM_JOBS"
cmake --install build
