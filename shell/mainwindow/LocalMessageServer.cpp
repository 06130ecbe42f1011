#include "shell/mainwindow/LocalMessageServer.h"

#include "platform/LocalMessages.h"

#include <QLocalSocket>
#include <QTimer>
#include <string>

namespace {

// Longer than any valid request: a peer that sends more without a line feed is cut off.
constexpr qint64 kMaxRequestLength = 16;
// A peer that connects and sends nothing is dropped after this long.
constexpr int kRequestTimeoutMs = 2000;

} // namespace

TLocalMessageServer::TLocalMessageServer(THandler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &TLocalMessageServer::Accept);
}

TLocalMessageServer::~TLocalMessageServer() {
    const QString path = server_.fullServerName();
    server_.close();
    if (!path.isEmpty()) {
        QLocalServer::removeServer(path);
    }
}

bool TLocalMessageServer::Listen(const QString& path) {
    QLocalServer::removeServer(path);
    return server_.listen(path);
}

void TLocalMessageServer::Accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0) {
            Read(socket);
        }
    }
}

void TLocalMessageServer::Read(QLocalSocket* socket) {
    if (!socket->canReadLine() && socket->bytesAvailable() < kMaxRequestLength) {
        return; // the rest of the line is still on its way
    }
    const QByteArray line = socket->readLine(kMaxRequestLength);
    const std::optional<std::uint32_t> message =
        platform::ParseMessageRequest(std::string_view(line.constData(), line.size()));
    if (message) {
        const std::string reply = platform::FormatMessageReply(handler_(*message));
        socket->write(reply.data(), static_cast<qint64>(reply.size()));
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    socket->disconnectFromServer(); // after what was written has gone out
}
