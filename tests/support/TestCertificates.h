#pragma once
// Certificates made on the spot for TLS tests: a private authority and the server
// certificates it signs, written as PEM files.

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

struct CertificateRequest {
    std::vector<std::string> dnsNames = {"localhost"};
    std::vector<std::string> ipAddresses = {"127.0.0.1"};
    int validFromDays = -1; // relative to now
    int validUntilDays = 30;
};

struct PemPair {
    std::string certificate;
    std::string key;
};

class TestAuthority {
public:
    explicit TestAuthority(const std::string& commonName = "Corvale Test Authority");
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    std::string CertificatePem() const;
    // A server certificate signed by this authority, with a fresh key.
    PemPair Issue(const CertificateRequest& request = {}) const;

    struct Keys;

private:
    std::unique_ptr<Keys> keys_;
};

// Writes the certificate and key of `pair` to `<folder>/<stem>.crt` and `<folder>/<stem>.key`.
struct PemFiles {
    std::string certificate;
    std::string key;
};
PemFiles WritePemFiles(const std::string& folder, const std::string& stem, const PemPair& pair);

} // namespace testing_support
