#include "CFileCipher.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "AtomicFileWriter.h"
#include "mem_buffer.h"

namespace {

constexpr unsigned char kSalt[8] = {0x3A, 0x91, 0xC4, 0x07, 0x5E, 0xB2, 0x68, 0xF0};
constexpr unsigned char kPassphrase[16] = {0x17, 0xC2, 0x8E, 0x4B, 0xD9, 0x60, 0xA5, 0x3F,
                                           0x72, 0x0B, 0xE6, 0x94, 0x2D, 0x58, 0xB1, 0xCC};
constexpr int kDerivationRounds = 5;

}  // namespace

const unsigned char* StorePassphrase() { return kPassphrase; }
int StorePassphraseLength() { return static_cast<int>(sizeof kPassphrase); }

CFileCipher::CFileCipher() : encrypt_(EVP_CIPHER_CTX_new()), decrypt_(EVP_CIPHER_CTX_new()) {}

CFileCipher::~CFileCipher() = default;

int CFileCipher::Init(const unsigned char* passphrase, int length) {
    unsigned char key[32] = {};
    unsigned char iv[32] = {};
    const int keySize = EVP_BytesToKey(EVP_aes_256_cbc(), EVP_sha1(), kSalt, passphrase, length,
                                       kDerivationRounds, key, iv);
    if (keySize != 32) {
        std::printf("Key size is %d bits - should be 256 bits\n", keySize);
        return -1;
    }
    if (!encrypt_ || !decrypt_) return -1;
    if (EVP_EncryptInit_ex(encrypt_.get(), EVP_aes_256_cbc(), nullptr, key, iv) != 1) return -1;
    if (EVP_DecryptInit_ex(decrypt_.get(), EVP_aes_256_cbc(), nullptr, key, iv) != 1) return -1;
    return 0;
}

int CFileCipher::Encrypt(const unsigned char* in, int length, unsigned char* out) {
    if (in == nullptr || out == nullptr || length < 0) return -1;
    int updated = 0;
    int finished = 0;
    if (EVP_EncryptUpdate(encrypt_.get(), out, &updated, in, length) != 1) return -1;
    if (EVP_EncryptFinal_ex(encrypt_.get(), out + updated, &finished) != 1) return -1;
    return updated + finished;
}

int CFileCipher::Decrypt(const unsigned char* in, int length, unsigned char* out) {
    if (in == nullptr || out == nullptr || length < 0) return -1;
    int updated = 0;
    int finished = 0;
    if (EVP_DecryptUpdate(decrypt_.get(), out, &updated, in, length) != 1) return -1;
    if (EVP_DecryptFinal_ex(decrypt_.get(), out + updated, &finished) != 1) return -1;
    return updated + finished;
}

int CFileCipher::EncryptToFile(const std::string& fileName, const std::string& plaintext) {
    // Nothing is opened before we know there is something to write, so a failed save can never
    // have destroyed the previous file.
    if (plaintext.empty()) return -1;
    AtomicFileWriter file(fileName);
    if (!file.good()) return -1;

    std::vector<unsigned char> unit(kUnitCipher);
    const auto* text = reinterpret_cast<const unsigned char*>(plaintext.data());
    std::size_t done = 0;
    int total = 0;
    while (done < plaintext.size()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(plaintext.size() - done, kUnitPlain));
        const int produced = Encrypt(text + done, chunk, unit.data());
        if (produced < 0) return produced;
        if (!file.Write(unit.data(), static_cast<std::size_t>(produced))) return -1;
        total += produced;
        done += static_cast<std::size_t>(chunk);
    }
    return file.Commit() ? total : -1;
}

int CFileCipher::DecryptFromFile(const std::string& fileName, std::string& text) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in.good()) return -1;

    std::vector<unsigned char> unit(kUnitCipher + 16);
    mem_buffer plain(kUnitPlain);

    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0) return -1;

    std::streamoff remaining = size;
    while (remaining > 0) {
        const int length = static_cast<int>(std::min<std::streamoff>(remaining, kUnitCipher));
        if (!in.read(reinterpret_cast<char*>(unit.data()), length)) return -1;
        const int produced = Decrypt(unit.data(), length, unit.data());
        if (produced < 0) return produced;
        plain.append(unit.data(), static_cast<std::size_t>(produced));
        remaining -= length;
    }

    // The buffer's tail is zero, so the text ends at its first 0 byte either way.
    const auto* begin = reinterpret_cast<const char*>(plain.data());
    text.assign(begin, ::strnlen(begin, plain.size()));
    return static_cast<int>(text.size());
}

bool SaveEncrypted(const std::string& fileName, const std::string& text) {
    CFileCipher cipher;
    if (cipher.Init(StorePassphrase(), StorePassphraseLength()) != 0) return false;
    return cipher.EncryptToFile(fileName, text) > 0;
}

bool LoadEncrypted(const std::string& fileName, std::string& text) {
    CFileCipher cipher;
    if (cipher.Init(StorePassphrase(), StorePassphraseLength()) != 0) return false;
    return cipher.DecryptFromFile(fileName, text) > 0;
}
