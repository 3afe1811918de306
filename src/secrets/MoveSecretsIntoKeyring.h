#pragma once
// Moving the secrets an older version kept in the settings file into the
// desktop keyring; on Windows, from the registry's mail profile into the
// Credential Manager (MoveSecretsIntoKeyringWin32.cpp).

#include <string>

namespace qm {

class Registry;

// When a keyring is reachable, every secret the settings file holds for the
// mailbox `store` goes into the keyring and out of the file; without one,
// nothing changes. True when the file holds no secret afterwards. Throws
// Failure(SignOn) when the keyring or the file refuses.
bool MoveSecretsIntoKeyring(Registry& registry, const std::string& store);

}  // namespace qm
