#include "server/TlsContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace server {

namespace {

bool KeyParses(const std::string& pem) {
    BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = in ? PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr) : nullptr;
    const bool parsed = key != nullptr;
    EVP_PKEY_free(key);
    BIO_free(in);
    ERR_clear_error();
    return parsed;
}

} // namespace

Result<std::unique_ptr<boost::asio::ssl::context>>
MakeTlsContext(const std::string& certificateChain, const std::string& key) {
    namespace ssl = boost::asio::ssl;
    auto context = std::make_unique<ssl::context>(ssl::context::tls_server);
    context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                         ssl::context::no_sslv3 | ssl::context::single_dh_use);
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
    boost::system::error_code ec;
    context->use_certificate_chain(boost::asio::buffer(certificateChain), ec);
    if (ec) {
        return Refusal("the certificate file holds no usable certificate");
    }
    context->use_private_key(boost::asio::buffer(key), ssl::context::pem, ec);
    if (ec) {
        return Refusal(KeyParses(key) ? "the key does not belong to the certificate"
                                      : "the key file holds no usable private key");
    }
    if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
        return Refusal("the key does not belong to the certificate");
    }
    return context;
}

} // namespace server
