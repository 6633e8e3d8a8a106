// strimo-crypt: enciphers a plain file into the store format, or deciphers a stored file to
// standard output, so administrators can read and edit installed configuration files.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "CFileCipher.h"

namespace {

int Usage() {
    std::cerr << "usage: strimo-crypt encrypt IN OUT   encipher the plain file IN into OUT\n"
                 "       strimo-crypt decrypt IN       decipher IN to standard output\n";
    return 2;
}

int Fail(const std::string& message) {
    std::cerr << "strimo-crypt: " << message << "\n";
    return 1;
}

int Encrypt(const std::string& in, const std::string& out) {
    std::ifstream file(in, std::ios::binary);
    if (!file) return Fail("cannot read " + in + ": " + std::strerror(errno));
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return Fail("cannot read " + in);
    if (text.empty()) return Fail(in + " is empty: there is nothing to encipher");
    if (text.find('\0') != std::string::npos)
        return Fail(in + " contains a 0 byte: stored text ends at the first one, so it would be cut");

    CFileCipher cipher;
    if (cipher.Init(StorePassphrase(), StorePassphraseLength()) != 0) return Fail("key set-up failed");
    if (cipher.EncryptToFile(out, text) <= 0)
        return Fail("cannot write " + out + " (the previous file, if any, is unchanged)");
    return 0;
}

int Decrypt(const std::string& in) {
    CFileCipher cipher;
    if (cipher.Init(StorePassphrase(), StorePassphraseLength()) != 0) return Fail("key set-up failed");
    std::string text;
    const int length = cipher.DecryptFromFile(in, text);
    if (length < 0) {
        std::ifstream probe(in, std::ios::binary);
        if (!probe) return Fail("cannot read " + in + ": " + std::strerror(errno));
        return Fail(in + " does not decipher: it is damaged, truncated or not a stored file");
    }
    if (length == 0) return Fail(in + " holds no text");
    std::cout << text;
    if (text.back() != '\n') std::cout << '\n';
    return std::cout.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "encrypt" && argc == 4) return Encrypt(argv[2], argv[3]);
    if (command == "decrypt" && argc == 3) return Decrypt(argv[2]);
    return Usage();
}
