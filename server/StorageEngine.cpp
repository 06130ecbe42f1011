#include "server/StorageEngine.h"

namespace server {

Result<std::optional<AccountKey>> StorageEngine::Authenticate(std::string_view userId,
                                                              std::string_view storedPassword) {
    auto login = FindLogin(userId);
    if (!login) {
        return login.Failure();
    }
    if (!*login || storedPassword.empty() ||
        !VerifyPassword((*login)->PasswordHash, storedPassword)) {
        return std::optional<AccountKey>();
    }
    return std::optional<AccountKey>((*login)->Account);
}

} // namespace server
