#include "core/uTools.h"

#include "core/uEndpoint.h"
#include "util/Lib1.h"

#include <cstring>

std::string ServiceCall(const std::string& url) {
    TMemoryBlock buffer;
    std::size_t size = 0;
    UrlGet(url, ServiceEndpoint().Port, std::string(), buffer, size); // the block decides
    return ReplyText(buffer);
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
