#include "tests/support/TestCertificates.h"

#include "tests/support/TempFolder.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace testing_support {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

void Require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test certificate: ") + what);
    }
}

KeyPtr NewKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    Require(key != nullptr, "key generation");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    Require(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

CertPtr NewCertificate(const std::string& commonName, EVP_PKEY* key, int fromDays, int untilDays) {
    static long serial = 1;
    CertPtr cert(X509_new());
    Require(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(fromDays) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(untilDays) * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return cert;
}

std::string ToPem(X509* cert) {
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, cert);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(out);
    return pem;
}

std::string ToPem(EVP_PKEY* key) {
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(out);
    return pem;
}

} // namespace

struct TestAuthority::Keys {
    KeyPtr key;
    CertPtr cert;
};

TestAuthority::TestAuthority(const std::string& commonName) : keys_(std::make_unique<Keys>()) {
    keys_->key = NewKey();
    keys_->cert = NewCertificate(commonName, keys_->key.get(), -1, 365);
    X509_set_issuer_name(keys_->cert.get(), X509_get_subject_name(keys_->cert.get()));
    AddExtension(keys_->cert.get(), keys_->cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(keys_->cert.get(), keys_->cert.get(), NID_key_usage,
                 "critical,keyCertSign,cRLSign");
    AddExtension(keys_->cert.get(), keys_->cert.get(), NID_subject_key_identifier, "hash");
    Require(X509_sign(keys_->cert.get(), keys_->key.get(), EVP_sha256()) > 0, "signing");
}

TestAuthority::~TestAuthority() = default;

std::string TestAuthority::CertificatePem() const {
    return ToPem(keys_->cert.get());
}

PemPair TestAuthority::Issue(const CertificateRequest& request) const {
    KeyPtr key = NewKey();
    const std::string commonName =
        request.dnsNames.empty() ? request.ipAddresses.at(0) : request.dnsNames.front();
    CertPtr cert =
        NewCertificate(commonName, key.get(), request.validFromDays, request.validUntilDays);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(keys_->cert.get()));
    std::string names;
    for (const auto& dns : request.dnsNames) {
        names += (names.empty() ? "DNS:" : ",DNS:") + dns;
    }
    for (const auto& ip : request.ipAddresses) {
        names += (names.empty() ? "IP:" : ",IP:") + ip;
    }
    AddExtension(cert.get(), keys_->cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), keys_->cert.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), keys_->cert.get(), NID_authority_key_identifier, "keyid:always");
    if (!names.empty()) {
        AddExtension(cert.get(), keys_->cert.get(), NID_subject_alt_name, names);
    }
    Require(X509_sign(cert.get(), keys_->key.get(), EVP_sha256()) > 0, "signing");
    return {ToPem(cert.get()), ToPem(key.get())};
}

PemFiles WritePemFiles(const std::string& folder, const std::string& stem, const PemPair& pair) {
    PemFiles files{folder + "/" + stem + ".crt", folder + "/" + stem + ".key"};
    WriteFile(files.certificate, pair.certificate);
    WriteFile(files.key, pair.key);
    return files;
}

} // namespace testing_support
