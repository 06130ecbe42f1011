#pragma once
// The receiving end of the messages from other programs (see platform/LocalMessages.h): a
// local socket, open to this user only, served on the window thread. Each connection carries
// one message number; the handler's result goes back and the connection is closed.

#include <QLocalServer>
#include <QObject>
#include <cstdint>
#include <functional>

class QLocalSocket;

class TLocalMessageServer : public QObject {
public:
    using THandler = std::function<std::int64_t(std::uint32_t message)>;

    TLocalMessageServer(THandler handler, QObject* parent);
    ~TLocalMessageServer() override;

    // Listens at `path`, first removing a socket file left by a copy that crashed: the caller
    // holds the single-instance lock, so no live copy can own it. False when it cannot.
    bool Listen(const QString& path);
    QString Path() const { return server_.fullServerName(); }

private:
    void Accept();
    void Read(QLocalSocket* socket);

    THandler handler_;
    QLocalServer server_;
};
