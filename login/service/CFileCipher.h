#pragma once

#include <memory>
#include <string>

#include <openssl/evp.h>

// The cipher pair for one read or one write of an enciphered file.
//
// File envelope: no header. The plaintext is cut into units of kUnitPlain bytes (the last one
// shorter, never empty); each unit is enciphered with AES-256-CBC and ends with its own PKCS#7
// padding, and the CBC chain runs on across units because the contexts are never
// re-initialised between them. Older installations and other tools read exactly this layout.
//
// A limit of this layout: with no length field, a file cut exactly after a unit is itself a
// complete file. It reads back, without error, as the text of the units before the cut. Only a
// cut inside a unit is noticed (by the padding of the unit it damages).
class CFileCipher {
public:
    static constexpr int kUnitPlain = 32768;
    static constexpr int kUnitCipher = kUnitPlain + 16;

    CFileCipher();
    ~CFileCipher();
    CFileCipher(const CFileCipher&) = delete;
    CFileCipher& operator=(const CFileCipher&) = delete;

    // Derives key and IV from the passphrase and the compiled-in salt and sets up both contexts.
    // 0 on success; -1 when the derived key is not 256 bits (printed to standard output).
    int Init(const unsigned char* passphrase, int length);

    // One unit each. Return the bytes produced, or -1 when input or output is missing or the
    // cipher fails. Decrypt also fails (-1) on bad padding: a damaged or foreign file is a failed
    // read, never garbage reported as text. `out` must hold length + 16 bytes; Decrypt may
    // write in place (out == in).
    int Encrypt(const unsigned char* in, int length, unsigned char* out);
    int Decrypt(const unsigned char* in, int length, unsigned char* out);

    // Writes the enciphered text to `fileName`, replacing the file only once the new content is
    // completely on disk. Returns the cipher bytes written, or a negative value (empty text,
    // unwritable folder) in which case an existing file is left as it was.
    int EncryptToFile(const std::string& fileName, const std::string& plaintext);
    // Reads and deciphers `fileName`; the text ends at its first 0 byte. Returns the text's
    // length, or -1 when the file is missing, unreadable or does not decipher.
    int DecryptFromFile(const std::string& fileName, std::string& text);

private:
    struct CtxFree {
        void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
    };
    using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

    CtxPtr encrypt_;
    CtxPtr decrypt_;
};

// The compiled-in passphrase shared by both programs.
const unsigned char* StorePassphrase();
int StorePassphraseLength();

// Each makes its own CFileCipher with the compiled-in passphrase and performs one operation.
bool SaveEncrypted(const std::string& fileName, const std::string& text);
bool LoadEncrypted(const std::string& fileName, std::string& text);
