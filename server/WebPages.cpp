#include "server/WebPages.h"

#include "core/ServiceContract.h"
#include "server/Validation.h"
#include "util/uBase64.h"

namespace server {

namespace {

std::string Page(std::string_view title, std::string_view body) {
    std::string html = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";
    html += HtmlEscape(title);
    html += R"(</title>
<style>
body { font-family: sans-serif; max-width: 40em; margin: 2em auto; padding: 0 1em; line-height: 1.4; }
label { display: block; margin-top: 0.8em; }
input { font-size: 1em; }
.notice { border: 1px solid #999; padding: 0.5em 1em; background: #f4f4f4; }
</style>
</head>
<body>
)";
    html += body;
    html += "\n</body>\n</html>\n";
    return html;
}

std::string Notice(std::string_view message) {
    return message.empty() ? std::string()
                           : "<p class=\"notice\">" + HtmlEscape(message) + "</p>\n";
}

std::string SignupFormBody(std::string_view message, std::string_view userId) {
    std::string body = "<h1>Create a CorvaleID</h1>\n";
    body += Notice(message);
    body += "<form method=\"post\" action=\"";
    body += kSignupPagePath;
    body += R"(" accept-charset="utf-8">
<label for="id">User ID (1 to 32 letters, digits, ".", "_" or "-")</label>
<input id="id" name="id" type="text" maxlength="32" required value=")";
    body += HtmlEscape(userId);
    body += R"(">
<label for="password">Password</label>
<input id="password" name="password" type="password" maxlength="128" required>
<label for="repeat">Password again</label>
<input id="repeat" name="repeat" type="password" maxlength="128" required>
<p><button type="submit">Create my CorvaleID</button></p>
</form>
<p><a href=")";
    body += kHomePagePath;
    body += "\">Back to the Corvale home page</a></p>";
    return body;
}

PageReply FormWithError(int status, std::string_view message, std::string_view userId) {
    return {status, Page("Create a CorvaleID", SignupFormBody(message, userId))};
}

PageReply ClosedPage() {
    std::string body = "<h1>Create a CorvaleID</h1>\n";
    body += Notice("Sign-up is closed on this service. Ask its administrator for a CorvaleID.");
    body += "<p><a href=\"";
    body += kHomePagePath;
    body += "\">Back to the Corvale home page</a></p>";
    return {403, Page("Create a CorvaleID", body)};
}

} // namespace

std::string HtmlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string HomePage(const ProductVersion& offered, std::optional<std::int64_t> packageSize,
                     bool signupOpen) {
    std::string body = R"(<h1>Corvale</h1>
<p>Corvale keeps track of the public IPv4 address of your computers. It asks this service at
an interval from which address each computer is seen, reports every change under your
CorvaleID and the computer's name, and lets the buddies you invite look those addresses up.</p>
<h2>Download</h2>
<p>Newest version: )";
    body += HtmlEscape(VersionDisplay(offered));
    body += ".</p>\n";
    if (packageSize) {
        body += "<p><a href=\"";
        body += HtmlEscape(kUpdateDownloadPath);
        body += "\">Download the update package</a> (";
        body += std::to_string(*packageSize);
        body += " bytes).</p>\n";
    } else {
        body += "<p>This service offers no package for download.</p>\n";
    }
    body += "<h2>Your CorvaleID</h2>\n";
    if (signupOpen) {
        body += "<p>You need a CorvaleID to report your addresses and to invite buddies. <a "
                "href=\"";
        body += kSignupPagePath;
        body += "\">Create a CorvaleID</a>.</p>\n";
    } else {
        body += "<p>You need a CorvaleID to report your addresses and to invite buddies. Ask "
                "the administrator of this service for one.</p>\n";
    }
    body += "<p>Invitations are accepted at once: this service sends no e-mail.</p>";
    return Page("Corvale", body);
}

PageReply SignupPage(bool signupOpen) {
    if (!signupOpen) {
        return ClosedPage();
    }
    return {200, Page("Create a CorvaleID", SignupFormBody({}, {}))};
}

Result<PageReply> SubmitSignup(StorageEngine& storage, const SignupInput& input, bool signupOpen,
                               UnixTime now) {
    if (!signupOpen) {
        return ClosedPage();
    }
    if (!IsValidUserId(input.UserId)) {
        return FormWithError(400,
                             "Choose a user ID of 1 to 32 letters, digits, \".\", \"_\" or \"-\".",
                             input.UserId.size() <= kMaxUserIdLength ? input.UserId : "");
    }
    if (!IsValidTypedPassword(input.Password)) {
        return FormWithError(400, "Choose a password of 1 to 128 characters.", input.UserId);
    }
    if (input.Password != input.Repeat) {
        return FormWithError(400, "The two passwords differ. Type them again.", input.UserId);
    }
    // The service keeps the password in the form the client sends, so that it compares the
    // two without ever seeing the typed text again.
    const auto created = storage.CreateAccount(input.UserId, ScramblePassword(input.Password), now);
    if (!created) {
        return created.Failure();
    }
    if (*created == CreateResult::AlreadyExists) {
        return FormWithError(409, "This user ID is taken. Choose another.", input.UserId);
    }
    std::string body = "<h1>Your CorvaleID is ready</h1>\n<p>Your user ID is <strong>";
    body += HtmlEscape(input.UserId);
    body += "</strong>. Enter it with your password on the Options page of Corvale and press "
            "Save.</p>\n<p><a href=\"";
    body += kHomePagePath;
    body += "\">Back to the Corvale home page</a></p>";
    return PageReply{200, Page("Your CorvaleID is ready", body)};
}

} // namespace server
