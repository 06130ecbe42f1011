// The least a Qt tray program does that checks an address: a window with a one-row history
// list and a tray icon, shown and then hidden to the tray, that asks the service once over a
// plain socket and adds the answer as a row. scripts/perf-startup starts it beside the client
// as the yardstick for start-up time, resident memory and idle processor use.
// Usage: bare_tray PORT QUERY   (the service on 127.0.0.1:PORT, QUERY after "cmd.php?")

#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMainWindow>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The reply's body, or empty text when the service could not be asked.
std::string Ask(int port, const std::string& query) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return {};
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const std::string request =
            "GET /bin/corvale/cmd.php?" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                reply.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    ::close(fd);
    const auto body = reply.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string query = argv[2];

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare tray"));
    auto* history = new QTableWidget(0, 2, &window);
    history->setHorizontalHeaderLabels({QStringLiteral("IP"), QStringLiteral("Time")});
    window.setCentralWidget(history);
    window.resize(400, 300);

    QPixmap picture(16, 16);
    picture.fill(Qt::darkGreen);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.show();
    window.show();

    QTimer::singleShot(0, &window, [&] {
        const QString answer = QString::fromStdString(Ask(port, query)).trimmed();
        history->insertRow(0);
        history->setItem(0, 0, new QTableWidgetItem(answer));
        window.hide();
    });
    return application.exec();
}
