#include "PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr int kMaxIterations = 10'000'000;

std::string ToHex(const unsigned char* data, size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

bool FromHex(std::string_view hex, std::vector<unsigned char>& out)
{
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (ec != std::errc{} || end != hex.data() + i + 2) return false;
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

std::vector<unsigned char> Derive(std::string_view password, const std::vector<unsigned char>& salt,
                                  int iterations)
{
    std::vector<unsigned char> hash(kHashBytes);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(hash.size()), hash.data()) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return hash;
}

}  // namespace

std::string PasswordHash::RandomHex(size_t bytes)
{
    std::vector<unsigned char> buffer(bytes);
    if (RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) != 1) {
        throw std::runtime_error("no random bytes");
    }
    return ToHex(buffer.data(), buffer.size());
}

std::string PasswordHash::Sha256Hex(std::string_view data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return ToHex(digest, size);
}

std::string PasswordHash::Make(std::string_view password, int iterations)
{
    if (iterations < 1 || iterations > kMaxIterations) throw std::runtime_error("bad iteration count");
    std::vector<unsigned char> salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
        throw std::runtime_error("no random bytes");
    }
    const auto hash = Derive(password, salt, iterations);
    return std::string(kScheme) + "$" + std::to_string(iterations) + "$" +
           ToHex(salt.data(), salt.size()) + "$" + ToHex(hash.data(), hash.size());
}

bool PasswordHash::Verify(std::string_view password, std::string_view stored)
{
    // scheme$iterations$salt$hash
    std::string_view parts[4];
    for (int i = 0; i < 3; ++i) {
        const size_t sep = stored.find('$');
        if (sep == std::string_view::npos) return false;
        parts[i] = stored.substr(0, sep);
        stored.remove_prefix(sep + 1);
    }
    parts[3] = stored;
    if (parts[0] != kScheme) return false;
    int iterations = 0;
    const auto [end, ec] =
        std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), iterations);
    if (ec != std::errc{} || end != parts[1].data() + parts[1].size() || iterations < 1 ||
        iterations > kMaxIterations) {
        return false;
    }
    std::vector<unsigned char> salt, expected;
    if (!FromHex(parts[2], salt) || !FromHex(parts[3], expected) || salt.empty() ||
        expected.size() != kHashBytes) {
        return false;
    }
    try {
        const auto actual = Derive(password, salt, iterations);
        return CRYPTO_memcmp(actual.data(), expected.data(), kHashBytes) == 0;
    } catch (const std::runtime_error&) {
        return false;
    }
}
