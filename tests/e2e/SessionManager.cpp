#include "SessionManager.h"

#include "tests/support/Wait.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <poll.h>

namespace {

// Every local client may connect: the sockets are this test's own.
Bool AcceptAnyHost(char*) {
    return True;
}

// ICE's default ends the process on a broken connection; a test reports it instead.
void IgnoreIoError(IceConn) {}

} // namespace

TSessionManager::TSessionManager() {
    IceSetIOErrorHandler(IgnoreIoError);
    char error[256] = {};
    if (!SmsInitialize("corvale-tests", "1.0", &TSessionManager::NewClient, this, AcceptAnyHost,
                       sizeof error, error)) {
        failure_ = std::string("the session manager library does not start: ") + error;
        return;
    }
    if (!IceListenForConnections(&listenerCount_, &listeners_, sizeof error, error) ||
        listenerCount_ == 0) {
        failure_ = std::string("no socket to listen on: ") + error;
        return;
    }
    for (int i = 0; i < listenerCount_; ++i) {
        IceSetHostBasedAuthProc(listeners_[i], AcceptAnyHost);
    }
    char* ids = IceComposeNetworkIdList(listenerCount_, listeners_);
    address_ = ids;
    std::free(ids);
}

TSessionManager::~TSessionManager() {
    if (client_ != nullptr) {
        SmsCleanUp(client_);
    }
    for (IceConn connection : connections_) {
        IceSetShutdownNegotiation(connection, False);
        IceCloseConnection(connection);
    }
    if (listeners_ != nullptr) {
        IceFreeListenObjs(listenerCount_, listeners_);
    }
}

Status TSessionManager::NewClient(SmsConn connection, SmPointer self, unsigned long* mask,
                                  SmsCallbacks* callbacks, char**) {
    auto* manager = static_cast<TSessionManager*>(self);
    manager->client_ = connection;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    callbacks->register_client.callback = [](SmsConn c, SmPointer data, char* previousId) {
        std::free(previousId);
        char* id = SmsGenerateClientID(c); // the reply keeps a copy
        SmsRegisterClientReply(c, id);
        std::free(id);
        static_cast<TSessionManager*>(data)->registered_ = true;
        return Status(1);
    };
    callbacks->register_client.manager_data = self;
    callbacks->interact_request.callback = [](SmsConn c, SmPointer, int) { SmsInteract(c); };
    callbacks->interact_done.callback = [](SmsConn, SmPointer, Bool) {};
    callbacks->save_yourself_request.callback = [](SmsConn, SmPointer, int, Bool, int, Bool, Bool) {
    };
    callbacks->save_yourself_phase2_request.callback = [](SmsConn c, SmPointer) {
        SmsSaveYourselfPhase2(c);
    };
    callbacks->save_yourself_done.callback = [](SmsConn, SmPointer data, Bool) {
        static_cast<TSessionManager*>(data)->saveDone_ = true;
    };
    callbacks->save_yourself_done.manager_data = self;
    callbacks->close_connection.callback = [](SmsConn c, SmPointer data, int count,
                                              char** reasons) {
        SmFreeReasons(count, reasons);
        SmsCleanUp(c);
        static_cast<TSessionManager*>(data)->client_ = nullptr;
    };
    callbacks->close_connection.manager_data = self;
    callbacks->set_properties.callback = [](SmsConn, SmPointer data, int count, SmProp** props) {
        auto* m = static_cast<TSessionManager*>(data);
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> values;
            for (int v = 0; v < props[i]->num_vals; ++v) {
                values.emplace_back(static_cast<const char*>(props[i]->vals[v].value),
                                    static_cast<std::size_t>(props[i]->vals[v].length));
            }
            m->properties_[props[i]->name] = std::move(values);
            SmFreeProperty(props[i]);
        }
        std::free(props);
    };
    callbacks->set_properties.manager_data = self;
    callbacks->delete_properties.callback = [](SmsConn, SmPointer, int count, char** names) {
        for (int i = 0; i < count; ++i) {
            std::free(names[i]);
        }
        std::free(names);
    };
    callbacks->get_properties.callback = [](SmsConn c, SmPointer) {
        SmsReturnProperties(c, 0, nullptr);
    };
    return 1;
}

void TSessionManager::Accept(IceListenObj listener) {
    IceAcceptStatus status;
    IceConn connection = IceAcceptConnection(listener, &status);
    if (connection == nullptr) {
        return;
    }
    // The connection setup is a short exchange of its own.
    IceConnectStatus state = IceConnectPending;
    for (int i = 0; i < 200 && (state = IceConnectionStatus(connection)) == IceConnectPending;
         ++i) {
        pollfd fd{IceConnectionNumber(connection), POLLIN, 0};
        if (poll(&fd, 1, 50) > 0 &&
            IceProcessMessages(connection, nullptr, nullptr) == IceProcessMessagesIOError) {
            break;
        }
    }
    if (state == IceConnectAccepted) {
        connections_.push_back(connection);
    } else {
        IceSetShutdownNegotiation(connection, False);
        IceCloseConnection(connection);
    }
}

bool TSessionManager::Serve(const std::function<bool()>& until,
                            std::chrono::milliseconds deadline) {
    return testing_support::WaitUntil(
        [&] {
            std::vector<pollfd> fds;
            for (int i = 0; i < listenerCount_; ++i) {
                fds.push_back({IceGetListenConnectionNumber(listeners_[i]), POLLIN, 0});
            }
            for (IceConn connection : connections_) {
                fds.push_back({IceConnectionNumber(connection), POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 20) > 0) {
                for (int i = 0; i < listenerCount_; ++i) {
                    if (fds[static_cast<std::size_t>(i)].revents != 0) {
                        Accept(listeners_[i]);
                    }
                }
                for (std::size_t i = static_cast<std::size_t>(listenerCount_); i < fds.size();
                     ++i) {
                    if (fds[i].revents != 0) {
                        IceProcessMessages(
                            connections_[i - static_cast<std::size_t>(listenerCount_)], nullptr,
                            nullptr);
                    }
                }
            }
            return until();
        },
        deadline);
}

bool TSessionManager::WaitForClient(std::chrono::milliseconds deadline) {
    return Serve([this] { return registered_; }, deadline);
}

bool TSessionManager::SaveYourself(std::chrono::milliseconds deadline) {
    if (!registered_) {
        return false;
    }
    saveDone_ = false;
    SmsSaveYourself(client_, SmSaveLocal, False, SmInteractStyleNone, False);
    return Serve([this] { return saveDone_; }, deadline);
}

bool TSessionManager::SaveYourselfForShutdown(std::chrono::milliseconds deadline) {
    if (!registered_) {
        return false;
    }
    saveDone_ = false;
    SmsSaveYourself(client_, SmSaveBoth, True, SmInteractStyleNone, False);
    return Serve([this] { return saveDone_; }, deadline);
}

void TSessionManager::CancelShutdown() {
    SmsShutdownCancelled(client_);
    IceFlush(SmsGetIceConnection(client_));
}

void TSessionManager::Die() {
    SmsDie(client_);
    IceFlush(SmsGetIceConnection(client_));
}

std::optional<int> TSessionManager::Card8Property(const std::string& name) const {
    const auto found = properties_.find(name);
    if (found == properties_.end() || found->second.empty() || found->second[0].empty()) {
        return std::nullopt;
    }
    return static_cast<unsigned char>(found->second[0][0]);
}
