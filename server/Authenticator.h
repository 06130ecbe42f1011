#pragma once
// The login check of every service request: the remembered logins first, then, within the
// failed-login limits, the full password hash check. A wrong password is never remembered and
// always pays the full check; an unknown user ID pays the same, so the time taken does not
// tell which user IDs exist.

#include "server/CredentialCache.h"
#include "server/LoginThrottle.h"
#include "server/Metrics.h"
#include "server/Result.h"
#include "server/StorageEngine.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <string_view>

namespace server {

struct AuthenticatorOptions {
    std::size_t CacheCapacity = 10000;
    LoginLimits Limits;
    // Full checks running at once; each holds the hash's memory (64 MiB at interactive cost).
    int ParallelChecks = 2;
};

enum class LoginOutcome { Accepted, Refused, Throttled };

struct LoginResult {
    LoginOutcome Outcome = LoginOutcome::Refused;
    AccountKey Account = 0;
};

class Authenticator {
public:
    Authenticator(StorageEngine& storage, AuthenticatorOptions options);

    // Unavailable when the database could not be read.
    Result<LoginResult> Login(std::string_view userId, std::string_view password,
                              std::string_view peerAddress);

    // A login proven lately, from memory alone (no database read, no hash check): the record
    // it was proven against, or none, when only Login can tell.
    std::optional<LoginRecord> Remembered(std::string_view userId, std::string_view password);

    // How many full hash checks were made so far.
    std::uint64_t FullChecksForTests() const { return fullChecks_.load(); }
    // The logins proven from memory, the full checks and the refused logins so far.
    LoginCounts Counts() const;
    std::size_t RememberedLoginsForTests() { return cache_.Size(); }

private:
    bool FullCheck(const std::string& hash, std::string_view password);
    const std::string& UnknownAccountHash();

    StorageEngine& storage_;
    CredentialCache cache_;
    LoginThrottle throttle_;
    std::counting_semaphore<256> checks_;
    std::atomic<std::uint64_t> fullChecks_{0};
    std::atomic<std::uint64_t> remembered_{0};
    std::atomic<std::uint64_t> failed_{0};
    std::once_flag unknownHashMade_;
    std::string unknownHash_;
};

} // namespace server
