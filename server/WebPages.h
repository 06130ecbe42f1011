#pragma once
// The service's two web pages: the home and download page and the sign-up page. Plain HTML,
// no script.

#include "server/Result.h"
#include "server/StorageEngine.h"
#include "server/Version.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace server {

struct PageReply {
    int Status = 200;
    std::string Html;
};

struct SignupInput {
    std::string UserId;
    std::string Password;
    std::string Repeat;
};

std::string HtmlEscape(std::string_view text);

std::string HomePage(const ProductVersion& offered, std::optional<std::int64_t> packageSize,
                     bool signupOpen);
// The empty sign-up form (or the notice that sign-up is closed).
PageReply SignupPage(bool signupOpen);
// Creates the account from a submitted form; the page says what happened.
Result<PageReply> SubmitSignup(StorageEngine& storage, const SignupInput& input, bool signupOpen,
                               UnixTime now);

} // namespace server
