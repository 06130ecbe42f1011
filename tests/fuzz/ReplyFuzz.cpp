// The reply convention: the text a service call takes from the transport's block, its status
// word and message, and the two addresses of an address check's answer.

#include "core/uTasksIP.h"
#include "core/uTools.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// The text before the first `separator` and everything after it, or the whole text.
void CheckCutAtFirstBlank(const std::string& text, const std::string& head,
                          const std::string& tail) {
    const auto blank = text.find(' ');
    if (blank == std::string::npos) {
        FUZZ_CHECK(head == text);
        FUZZ_CHECK(tail.empty());
    } else {
        FUZZ_CHECK(head.size() == blank);
        FUZZ_CHECK(head + " " + tail == text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body = testing_support::Text(data, size);

    // The transport delivers the body followed by one zero byte.
    const std::string text = ReplyText(TMemoryBlock(body + '\0'));
    const std::string beforeZero = body.substr(0, body.find('\0'));
    FUZZ_CHECK(text == (beforeZero.empty() ? std::string(kServerTimeoutReply) : beforeZero));
    FUZZ_CHECK(ReplyText(std::nullopt) == kServerTimeoutReply);

    const TReply reply = SplitReply(text);
    CheckCutAtFirstBlank(text, reply.Status, reply.Message);
    FUZZ_CHECK(reply.IsOK() == (reply.Status == "OK"));

    // The address check reads its message whatever the service put in it.
    const TGetIPReply addresses = SplitGetIPReply(reply.Message);
    CheckCutAtFirstBlank(reply.Message, addresses.Current, addresses.OnRecord);
    return 0;
}
