#include "server/Authenticator.h"

#include "server/AddressGroup.h"
#include "server/MemoryView.h"
#include "server/PasswordHash.h"

#include <algorithm>

namespace server {

Authenticator::Authenticator(StorageEngine& storage, AuthenticatorOptions options)
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

std::optional<LoginRecord> Authenticator::Remembered(std::string_view userId,
                                                     std::string_view password) {
    if (password.empty()) {
        return std::nullopt;
    }
    auto record = storage_.View().FindLogin(userId);
    if (!record || !cache_.Find(*record, password)) {
        return std::nullopt;
    }
    remembered_.fetch_add(1, std::memory_order_relaxed);
    return record;
}

Result<LoginResult> Authenticator::Login(std::string_view userId, std::string_view password,
                                         std::string_view peerAddress) {
    const auto found = storage_.FindLogin(userId);
    if (!found) {
        return found.Failure();
    }
    const std::optional<LoginRecord>& record = *found;
    if (password.empty()) {
        return LoginResult{}; // no password never matches, and is not worth a check
    }
    if (record) {
        if (const auto account = cache_.Find(*record, password)) {
            remembered_.fetch_add(1, std::memory_order_relaxed);
            return LoginResult{LoginOutcome::Accepted, *account};
        }
    }
    const auto now = LoginThrottle::Clock::now();
    const std::string client = AddressGroup(std::string(peerAddress));
    if (!throttle_.MayTry(userId, client, now)) {
        failed_.fetch_add(1, std::memory_order_relaxed);
        return LoginResult{LoginOutcome::Throttled};
    }
    const bool match = FullCheck(record ? record->PasswordHash : UnknownAccountHash(), password);
    if (!record || !match) {
        throttle_.RecordFailure(userId, client, LoginThrottle::Clock::now());
        failed_.fetch_add(1, std::memory_order_relaxed);
        return LoginResult{};
    }
    cache_.Remember(*record, password);
    return LoginResult{LoginOutcome::Accepted, record->Account};
}

LoginCounts Authenticator::Counts() const {
    return {remembered_.load(std::memory_order_relaxed),
            fullChecks_.load(std::memory_order_relaxed), failed_.load(std::memory_order_relaxed)};
}

} // namespace server
