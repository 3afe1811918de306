#include "secrets/SecretStore.h"

namespace qm {

const char* SecretKindName(SecretKind kind) {
  switch (kind) {
    case SecretKind::kPassword:
      return "password";
    case SecretKind::kRefreshToken:
      return "refresh-token";
    case SecretKind::kAccessToken:
      return "access-token";
  }
  return "password";
}

}  // namespace qm
