#include "passwords.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QPasswordDigestor>

#include <sodium.h>

#include <cstddef>

namespace tocd {

namespace {

constexpr int kLegacyHashBytes = 32;

struct Limits {
    unsigned long long ops;
    std::size_t memory;
};

Limits limits(PasswordCost cost) {
    switch (cost) {
        case PasswordCost::Interactive:
            return {crypto_pwhash_argon2id_OPSLIMIT_INTERACTIVE,
                    crypto_pwhash_argon2id_MEMLIMIT_INTERACTIVE};
        case PasswordCost::Minimum:
            return {crypto_pwhash_argon2id_OPSLIMIT_MIN, crypto_pwhash_argon2id_MEMLIMIT_MIN};
        case PasswordCost::Standard:
            break;
    }
    return {2, std::size_t{19} << 20};
}

QByteArray bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::optional<PasswordCost> passwordCostNamed(std::string_view name) {
    if (name == "standard")
        return PasswordCost::Standard;
    if (name == "interactive")
        return PasswordCost::Interactive;
    if (name == "min")
        return PasswordCost::Minimum;
    return std::nullopt;
}

bool initPasswordHashing() {
    return sodium_init() >= 0;
}

PasswordRecord hashPassword(std::string_view password, PasswordCost cost) {
    const Limits l = limits(cost);
    char text[crypto_pwhash_argon2id_STRBYTES];
    if (crypto_pwhash_argon2id_str(text, password.data(), password.size(), l.ops, l.memory) != 0)
        return {};
    return {text, {}, 0};
}

bool verifyPassword(const PasswordRecord& record, std::string_view password) {
    if (!record.legacy()) {
        return !record.hash.empty() &&
               crypto_pwhash_str_verify(record.hash.c_str(), password.data(), password.size()) == 0;
    }
    const QByteArray derived =
        QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, bytes(password),
                                           bytes(record.salt), record.iterations, kLegacyHashBytes);
    return record.hash.size() == static_cast<std::size_t>(derived.size()) &&
           sodium_memcmp(record.hash.data(), derived.constData(), record.hash.size()) == 0;
}

bool needsRehash(const PasswordRecord& record, PasswordCost cost) {
    const Limits l = limits(cost);
    return record.legacy() ||
           crypto_pwhash_argon2id_str_needs_rehash(record.hash.c_str(), l.ops, l.memory) != 0;
}

}  // namespace tocd
