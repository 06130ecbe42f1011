#pragma once
// The servers a client's TLS connection refuses, each with the short reason the refusal
// gives: one table for the TLS layer's tests and for the service call's.

#include "tests/support/TestCertificates.h"
#include "tests/support/TlsPeers.h"

#include <openssl/ssl.h>
#include <vector>

namespace testing_support {

struct CertificateRefusal {
    const char* what;
    CertificateRequest certificate;
    TlsPeerOptions peer;
    bool signedByTestAuthority; // otherwise by an authority the client does not trust
    const char* reason;
};

inline const std::vector<CertificateRefusal>& CertificateRefusals() {
    static const std::vector<CertificateRefusal> refusals{
        {"OtherName",
         {.dnsNames = {"other.example"}, .ipAddresses = {}},
         {},
         true,
         "hostname mismatch"},
        {"Expired",
         {.validFromDays = -30, .validUntilDays = -1},
         {},
         true,
         "certificate has expired"},
        {"NotYetValid",
         {.validFromDays = 2, .validUntilDays = 30},
         {},
         true,
         "certificate is not yet valid"},
        {"UnknownAuthority", {}, {}, false, "unable to get local issuer certificate"},
        {"OnlyTls10",
         {},
         {TLS1_VERSION, TLS1_VERSION},
         true,
         "the server offers no TLS 1.2 or newer"},
        {"OnlyTls11",
         {},
         {TLS1_1_VERSION, TLS1_1_VERSION},
         true,
         "the server offers no TLS 1.2 or newer"},
    };
    return refusals;
}

} // namespace testing_support
