#pragma once
// A small X session manager (XSMP over ICE) for the tests: it listens on local sockets, takes
// one client's registration, asks it to save its state, and keeps the properties the client
// sets, as a desktop's session manager does at logout.

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TSessionManager {
public:
    TSessionManager();
    ~TSessionManager();
    TSessionManager(const TSessionManager&) = delete;
    TSessionManager& operator=(const TSessionManager&) = delete;

    // Empty when it listens; otherwise why it does not.
    const std::string& Failure() const { return failure_; }
    // The value for SESSION_MANAGER.
    const std::string& Address() const { return address_; }

    // Serves connections until a client has registered.
    bool WaitForClient(std::chrono::milliseconds deadline);
    // Sends the client a save-yourself as at logout (local save, no shutdown) and serves it
    // until the client reports it done.
    bool SaveYourself(std::chrono::milliseconds deadline);
    // Sends the save-yourself of a logout that ends the session (shutdown) and serves the
    // client until it reports it done.
    bool SaveYourselfForShutdown(std::chrono::milliseconds deadline);
    // The user cancelled the logout: the session goes on.
    void CancelShutdown();
    // The logout goes ahead: the client must end now.
    void Die();
    // The first byte of a property's first value, as SmCARD8 properties hold it.
    std::optional<int> Card8Property(const std::string& name) const;

private:
    static Status NewClient(SmsConn connection, SmPointer self, unsigned long* mask,
                            SmsCallbacks* callbacks, char** failure);
    bool Serve(const std::function<bool()>& until, std::chrono::milliseconds deadline);
    void Accept(IceListenObj listener);

    std::string failure_;
    std::string address_;
    int listenerCount_ = 0;
    IceListenObj* listeners_ = nullptr;
    std::vector<IceConn> connections_;
    SmsConn client_ = nullptr;
    bool registered_ = false;
    bool saveDone_ = false;
    std::map<std::string, std::vector<std::string>> properties_;
};
