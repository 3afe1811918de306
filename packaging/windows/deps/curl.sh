#!/usr/bin/env bash
# libcurl on Windows' own TLS (Schannel) and authentication (SSPI), with zlib
# and Windows' IDN conversion; no OpenSSL and no CA bundle path (Schannel
# uses the Windows certificate store unless a CA file is set). Only the
# protocols Quillmar speaks: IMAP and HTTP (OAuth).
source "$(dirname "$0")/lib.sh"
src=$(unpack curl)
off=()
for p in DICT FILE FTP GOPHER LDAP LDAPS MQTT POP3 RTSP SMB SMTP TELNET TFTP; do
  off+=("-DCURL_DISABLE_$p=ON")
done
cmake_cross "$src" build -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF \
  -DBUILD_TESTING=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
  -DCURL_WINDOWS_SSPI=ON -DCURL_ZLIB=ON -DUSE_WIN32_IDN=ON \
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
  -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
  -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF \
  -DCURL_USE_LIBPSL=OFF \
  "${off[@]}"
cmake --build build --parallel "$QM_JOBS"
cmake --install build
