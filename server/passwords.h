// Password hashes of tocd accounts: Argon2id (libsodium's self-describing "$argon2id$..." text)
// for every password set now, and the salted PBKDF2-SHA256 rows of older databases. Every
// stored hash verifies whatever its parameters; needsRehash() tells the ones to replace at
// their owner's next good sign-on.
//
// Threading: every function may run on any thread at once; hashing is meant for a worker
// thread, as one hash at the standard cost takes tens of milliseconds and 19 MiB.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tocd {

enum class PasswordCost {
    Standard,     // OWASP's minimum for Argon2id (19 MiB, 2 passes, 1 lane): the default
    Interactive,  // libsodium's interactive limits (64 MiB, 2 passes)
    Minimum,      // libsodium's minimum limits: for tests and load generators only
};

// The cost a command line names: "standard", "interactive" or "min"; nullopt for any other.
std::optional<PasswordCost> passwordCostNamed(std::string_view name);

// A stored password: an Argon2id text in `hash` (`iterations` 0, `salt` empty), or a PBKDF2
// hash with its salt and iteration count.
struct PasswordRecord {
    std::string hash;
    std::string salt;
    int iterations = 0;
    bool legacy() const { return iterations > 0; }
};

// Prepares the hashing library; false when it cannot be used (no hash can then be made).
bool initPasswordHashing();
// A new Argon2id record for `password`; an empty hash when memory for it could not be had.
PasswordRecord hashPassword(std::string_view password, PasswordCost cost);
// Whether `password` is the one `record` was made from; in time independent of where they differ.
bool verifyPassword(const PasswordRecord& record, std::string_view password);
// Whether `record` was made other than hashPassword(..., cost) makes it now: PBKDF2, or Argon2id
// with other parameters.
bool needsRehash(const PasswordRecord& record, PasswordCost cost);

}  // namespace tocd
