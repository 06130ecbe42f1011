#include "tests/support/HttpText.h"

namespace testing_support {

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";

} // namespace

std::string HeadOf(std::string_view message) {
    const auto end = message.find(kHeadEnd);
    return std::string(end == std::string_view::npos ? message : message.substr(0, end + 2));
}

std::string BodyOf(std::string_view message) {
    const auto end = message.find(kHeadEnd);
    return std::string(end == std::string_view::npos ? kNoBody
                                                     : message.substr(end + kHeadEnd.size()));
}

std::string StatusLineOf(std::string_view message) {
    return std::string(message.substr(0, message.find("\r\n")));
}

} // namespace testing_support
