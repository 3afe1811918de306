#pragma once
// libcurl's one global initialisation, before the first handle of any kind.
// Header only: a library that includes it links libcurl itself, and the
// libraries that build without libcurl (the Windows settings build) never
// see it.

#include <curl/curl.h>

#include <mutex>

#include "base/Failure.h"

namespace qm {

// Initialises libcurl once per process, whichever library asks first; it is
// never undone, the process ends with the library still initialised.
inline void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw Failure(FailureKind::Internal, Cause::kInternal, "libcurl cannot be initialised");
    }
  });
}

}  // namespace qm
