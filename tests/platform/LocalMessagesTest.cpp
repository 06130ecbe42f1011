// Message numbers, the wire format and the sender, against a real local socket.

#include "platform/LocalMessages.h"

#include "tests/support/TempFolder.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace platform;

namespace {

TEST(RegisterWindowMessageTest, SameNumberForEveryCallerAndSpelling) {
    const std::uint32_t number = RegisterWindowMessage("Corvale_EXE");
    EXPECT_GE(number, 0xC000u);
    EXPECT_LE(number, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessage("CORVALE_exe"), number);
    EXPECT_NE(RegisterWindowMessage("Corvale_EXE2"), number);
    // Other programs compute the number themselves: it must never change between versions.
    EXPECT_EQ(number, 0xEBD6u) << std::hex << number;
}

struct NumberCase {
    const char* text;
    std::optional<std::uint32_t> expected;
};

class MessageNumberFromTextTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(MessageNumberFromTextTest, Reads) {
    EXPECT_EQ(MessageNumberFromText(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageNumberFromTextTest,
    ::testing::Values(NumberCase{"2025", 2025u}, NumberCase{"0x7E8", 0x7E8u},
                      NumberCase{"0X7e9", 0x7E9u}, NumberCase{"4294967295", 4294967295u},
                      NumberCase{"4294967296", std::nullopt}, NumberCase{"0xZZ", std::nullopt},
                      NumberCase{"", std::nullopt},
                      NumberCase{"Corvale_EXE", RegisterWindowMessage("Corvale_EXE")}));

TEST(MessageWireFormatTest, RequestsRoundTripAndRejectAnythingElse) {
    EXPECT_EQ(FormatMessageRequest(0x7E9), "2025\n");
    EXPECT_EQ(ParseMessageRequest("2025\n"), 2025u);
    EXPECT_EQ(ParseMessageRequest(FormatMessageRequest(0xFFFFFFFFu)), 0xFFFFFFFFu);
    for (const char* bad : {"", "2025", "\n", "-1\n", "20 25\n", "0x7E9\n", "4294967296\n",
                            "00000000001\n", "2025\r\n"}) {
        EXPECT_EQ(ParseMessageRequest(bad), std::nullopt) << bad;
    }
}

TEST(MessageWireFormatTest, RepliesRoundTripAndRejectAnythingElse) {
    EXPECT_EQ(FormatMessageReply(-1), "-1\n");
    EXPECT_EQ(ParseMessageReply(FormatMessageReply(4194305)), 4194305);
    EXPECT_EQ(ParseMessageReply("0\n"), 0);
    for (const char* bad : {"", "7", "x\n", "7 \n"}) {
        EXPECT_EQ(ParseMessageReply(bad), std::nullopt) << bad;
    }
}

TEST(LocalMessageSocketPathTest, NamedAfterTheMessageInTheFolder) {
    EXPECT_EQ(LocalMessageSocketPath("Corvale_EXE", "/run/user/7/"), "/run/user/7/Corvale_EXE");
    EXPECT_EQ(LocalMessageSocketPath("Corvale_EXE", ""), "");
}

// A listener that answers each connection with what `answer` makes of the request bytes.
class FakeWindow {
public:
    explicit FakeWindow(std::function<std::string(const std::string&)> answer)
        : answer_(std::move(answer)) {
        path_ = folder_ / "Corvale_EXE";
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd_, 4), 0);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeWindow() {
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    const std::string& Path() const { return path_; }
    std::string LastRequest() const { return lastRequest_; }

private:
    void Serve() {
        const int client = accept(fd_, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        char buffer[64] = {};
        const ssize_t n = recv(client, buffer, sizeof buffer, 0);
        lastRequest_ = std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        const std::string reply = answer_(lastRequest_);
        if (reply == "hang") {
            char more;
            [[maybe_unused]] auto r = recv(client, &more, 1, 0); // until the sender gives up
        } else {
            [[maybe_unused]] auto w = send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        close(client);
    }

    std::function<std::string(const std::string&)> answer_;
    testing_support::TempFolder folder_;
    std::string path_;
    int fd_ = -1;
    std::thread thread_;
    std::string lastRequest_;
};

TEST(SendLocalMessageTest, DeliversTheNumberAndReturnsTheAnswer) {
    FakeWindow window([](const std::string& request) {
        return request == "2025\n" ? std::string("4\n") : std::string("0\n");
    });
    EXPECT_EQ(SendLocalMessage(window.Path(), 0x7E9, 2s), 4);
    EXPECT_EQ(window.LastRequest(), "2025\n");
}

TEST(SendLocalMessageTest, ReadsOnlyTheFirstLine) {
    FakeWindow window([](const std::string&) { return std::string("1\ntrailing"); });
    EXPECT_EQ(SendLocalMessage(window.Path(), 0x7E8, 2s), 1);
}

TEST(SendLocalMessageTest, NoneWhenNobodyListens) {
    EXPECT_EQ(SendLocalMessage("/tmp/corvale-nobody-listens-here", 0x7E8, 2s), std::nullopt);
    EXPECT_EQ(SendLocalMessage(std::string(200, 'x'), 0x7E8, 2s), std::nullopt);
}

TEST(SendLocalMessageTest, NoneForAMalformedOrMissingAnswer) {
    FakeWindow garbage([](const std::string&) { return std::string("yes\n"); });
    EXPECT_EQ(SendLocalMessage(garbage.Path(), 0x7E8, 2s), std::nullopt);
    FakeWindow silent([](const std::string&) { return std::string(); });
    EXPECT_EQ(SendLocalMessage(silent.Path(), 0x7E8, 2s), std::nullopt);
}

TEST(SendLocalMessageTest, GivesUpWhenTheAnswerDoesNotCome) {
    FakeWindow stuck([](const std::string&) { return std::string("hang"); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendLocalMessage(stuck.Path(), 0x7E8, 200ms), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

} // namespace
