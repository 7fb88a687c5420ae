// Password hashes of tocd accounts: Argon2id (libsodium's self-describing "$argon2id$..." text)
// for every password set now, and the salted PBKDF2-SHA256 rows of older databases, which are
// still verified and replaced with Argon2id once their owner signs on again.
//
// Threading: every function may run on any thread at once; hashing is meant for a worker
// thread, as one hash at the interactive cost takes tens of milliseconds and 64 MiB.
#pragma once

#include <string>
#include <string_view>

namespace tocd {

enum class PasswordCost {
    Interactive,  // libsodium's interactive limits: the default
    Minimum,      // libsodium's minimum limits: for tests and load generators only
};

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

}  // namespace tocd
