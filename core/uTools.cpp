#include "core/uTools.h"

#include "core/uEndpoint.h"
#include "util/Lib1.h"

#include <cstring>

std::string ServiceCall(const std::string& url) {
    const TServiceEndpoint endpoint = ServiceEndpoint();
    const TFetchResult result =
        Fetch({.Url = url, .Port = endpoint.Port, .AuthorityFile = endpoint.AuthorityFile});
    if (!result.SecureFailure.empty()) {
        return std::string(kSecureConnectionFailedReply) + result.SecureFailure;
    }
    return ReplyText(result.Body); // the block decides, not the result flag
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
