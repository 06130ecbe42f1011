// The signature-file and public-key readers on arbitrary text: no crash, a reason on every
// refusal, and an accepted file reads back to the same signature after its comment and lines
// are rewritten.

#include "tests/fuzz/FuzzCheck.h"
#include "util/uBase64.h"
#include "util/uSignature.h"

namespace {

std::string Line(const unsigned char* bytes, std::size_t size) {
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(bytes), size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = testing_support::Text(data, size);
    std::string reason;
    const auto signature = ParseUpdateSignature(text, reason);
    FUZZ_CHECK(signature || !reason.empty());
    if (signature) {
        FUZZ_CHECK(signature->TrustedComment.find('\n') == std::string::npos);
        std::string first = "ED";
        first.append(reinterpret_cast<const char*>(signature->KeyId.data()), 8);
        first.append(reinterpret_cast<const char*>(signature->Signature.data()), 64);
        const std::string rewritten =
            "untrusted comment: x\n" + Base64Encode(first) +
            "\ntrusted comment: " + signature->TrustedComment + "\n" +
            Line(signature->GlobalSignature.data(), signature->GlobalSignature.size()) + "\n";
        std::string again;
        const auto reread = ParseUpdateSignature(rewritten, again);
        FUZZ_CHECK(reread);
        FUZZ_CHECK(reread->KeyId == signature->KeyId);
        FUZZ_CHECK(reread->Signature == signature->Signature);
        FUZZ_CHECK(reread->TrustedComment == signature->TrustedComment);
        FUZZ_CHECK(reread->GlobalSignature == signature->GlobalSignature);
        // Without a trusted key nothing verifies.
        TSignatureVerifier verifier;
        verifier.Update(data, size);
        FUZZ_CHECK(!verifier.Finish(*signature, {}, again));
    }
    reason.clear();
    const auto key = ParseUpdatePublicKey(text, reason);
    FUZZ_CHECK(key || !reason.empty());
    return 0;
}
