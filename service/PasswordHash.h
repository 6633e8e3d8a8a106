#pragma once

#include <string>
#include <string_view>

// Salted password hashes (PBKDF2-HMAC-SHA256 through OpenSSL) and the random tokens the service
// hands out. A stored hash reads "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in hex), so
// the iteration count can be raised later without invalidating existing accounts.
class PasswordHash {
public:
    static constexpr int kDefaultIterations = 100000;

    // Throws std::runtime_error when the random source or the key derivation fails.
    static std::string Make(std::string_view password, int iterations = kDefaultIterations);

    // False for a wrong password and for a stored text that is not a hash of ours.
    static bool Verify(std::string_view password, std::string_view stored);

    // `bytes` random bytes from the operating system's generator, as lower-case hex.
    static std::string RandomHex(size_t bytes);

    // SHA-256 of `data` as lower-case hex: session tokens are stored only in this form.
    static std::string Sha256Hex(std::string_view data);
};
