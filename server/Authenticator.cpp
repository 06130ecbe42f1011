#include "server/Authenticator.h"

#include "server/PasswordHash.h"

#include <algorithm>

namespace server {

Authenticator::Authenticator(Storage& storage, AuthenticatorOptions options)
    : storage_(storage), cache_(options.CacheCapacity), throttle_(options.Limits),
      checks_(std::clamp(options.ParallelChecks, 1, 256)) {}

const std::string& Authenticator::UnknownAccountHash() {
    std::call_once(unknownHashMade_,
                   [this] { unknownHash_ = HashPassword("no such account", storage_.Cost()); });
    return unknownHash_;
}

bool Authenticator::FullCheck(const std::string& hash, std::string_view password) {
    checks_.acquire();
    ++fullChecks_;
    const bool match = VerifyPassword(hash, password);
    checks_.release();
    return match;
}

LoginResult Authenticator::Login(std::string_view userId, std::string_view password,
                                 std::string_view peerAddress) {
    const auto record = storage_.FindLogin(userId);
    if (password.empty()) {
        return {}; // no password never matches, and is not worth a check
    }
    if (record) {
        if (const auto account = cache_.Find(*record, password)) {
            return {LoginOutcome::Accepted, *account};
        }
    }
    const auto now = LoginThrottle::Clock::now();
    if (!throttle_.MayTry(userId, peerAddress, now)) {
        return {LoginOutcome::Throttled};
    }
    const bool match = FullCheck(record ? record->PasswordHash : UnknownAccountHash(), password);
    if (!record || !match) {
        throttle_.RecordFailure(userId, peerAddress, LoginThrottle::Clock::now());
        return {};
    }
    cache_.Remember(*record, password);
    return {LoginOutcome::Accepted, record->Account};
}

} // namespace server
