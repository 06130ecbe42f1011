#include "core/uTools.h"

#include "core/uEndpoint.h"
#include "util/Lib1.h"

#include <cstring>

std::string ServiceCall(const std::string& url) {
    TMemoryBlock buffer;
    std::size_t size = 0;
    const TUrlGetResult result =
        UrlGetWithReason(url, ServiceEndpoint().Port, std::string(), buffer, size, NetLimits());
    if (!result.secureFailure.empty()) {
        return std::string(kSecureConnectionFailedReply) + result.secureFailure;
    }
    return ReplyText(buffer); // the block decides, not the result flag
}

std::string ReplyText(const TMemoryBlock& block) {
    if (block) {
        std::string text(block->c_str()); // up to the first zero byte
        if (!text.empty()) {
            return text;
        }
    }
    return std::string(kServerTimeoutReply);
}

TReply SplitReply(const std::string& reply) {
    TReply result;
    SplitFirst(reply, " ", result.Status, result.Message);
    return result;
}
