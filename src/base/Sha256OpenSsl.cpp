#include "base/Sha256.h"

#include <openssl/evp.h>

#include "base/Failure.h"

namespace qm {
namespace {

struct FreeContext {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

[[noreturn]] void Fail(const char* what) {
  throw Failure(FailureKind::Internal, Cause::kInternal, std::string("SHA-256: ") + what);
}

}  // namespace

struct Sha256::State {
  std::unique_ptr<EVP_MD_CTX, FreeContext> context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1) {
    Fail("libcrypto offers no digest");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(std::string_view bytes) {
  if (EVP_DigestUpdate(state_->context.get(), bytes.data(), bytes.size()) != 1) {
    Fail("the digest refused the bytes");
  }
}

Sha256::Digest Sha256::Finish() {
  Digest digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
      length != digest.size()) {
    Fail("the digest could not be finished");
  }
  return digest;
}

}  // namespace qm
