#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "TempDir.h"

namespace testsupport {

// A self-signed certificate and key for 127.0.0.1, made with openssl in a private folder.
// Made() is false when openssl could not make them.
class TestCertificate {
public:
    TestCertificate() {
        const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                                    "-days 1 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
                                    Key() + " -out " + Cert() + " >/dev/null 2>&1";
        made_ = std::system(command.c_str()) == 0;
    }

    bool Made() const { return made_; }
    std::string Key() const { return dir_ / "key.pem"; }
    std::string Cert() const { return dir_ / "cert.pem"; }

private:
    TempDir dir_;
    bool made_ = false;
};

// While it lives, the HTTP client trusts `certFile` besides the system's certificates.
class ScopedTrust {
public:
    explicit ScopedTrust(const std::string& certFile) {
        if (const char* old = std::getenv("SSL_CERT_FILE")) previous_ = old;
        ::setenv("SSL_CERT_FILE", certFile.c_str(), 1);
    }
    ~ScopedTrust() {
        if (previous_) ::setenv("SSL_CERT_FILE", previous_->c_str(), 1);
        else ::unsetenv("SSL_CERT_FILE");
    }
    ScopedTrust(const ScopedTrust&) = delete;
    ScopedTrust& operator=(const ScopedTrust&) = delete;

private:
    std::optional<std::string> previous_;
};

}  // namespace testsupport
