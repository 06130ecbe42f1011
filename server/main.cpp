// corvale-server: the reference service, or one of its administration commands.

#include "core/uCfg.h"
#include "server/AdminCommands.h"
#include "server/CommandLine.h"
#include "server/HttpFrontEnd.h"
#include "server/Journal.h"
#include "server/Metrics.h"
#include "server/MetricsListener.h"
#include "server/OpenEngine.h"
#include "server/ServiceActions.h"
#include "server/SystemdNotify.h"
#include "server/Watchdog.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>

namespace {

using namespace server;

// Every connection needs a descriptor; the soft limit is often far below what the
// connection caps allow.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string HostForDisplay(const std::string& host) {
    return host.find(':') == std::string::npos ? host : '[' + host + ']';
}

// The whole file, or none when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads the certificate and key at start-up, before anything is served: a key readable by
// root only works this way.
Result<void> LoadCertificate(const CommandLine& line, HttpFrontEnd& frontEnd) {
    const auto chain = ReadWholeFile(*line.TlsCertificateFile);
    if (!chain) {
        return Unavailable("cannot read " + *line.TlsCertificateFile);
    }
    const auto key = ReadWholeFile(*line.TlsKeyFile);
    if (!key) {
        return Unavailable("cannot read " + *line.TlsKeyFile);
    }
    return frontEnd.UseCertificate(*chain, *key);
}

// On SIGHUP: the certificate and key files read afresh; a pair that cannot serve is refused
// and the one in use goes on.
void ReloadCertificate(const CommandLine& line, HttpFrontEnd& frontEnd) {
    if (!line.TlsCertificateFile || !line.TlsKeyFile) {
        std::cerr << "corvale-server: no certificate to reload (no --tls-cert)" << std::endl;
        return;
    }
    const auto chain = ReadWholeFile(*line.TlsCertificateFile);
    const auto key = ReadWholeFile(*line.TlsKeyFile);
    Result<void> replaced = !chain ? Unavailable("cannot read " + *line.TlsCertificateFile)
                            : !key ? Unavailable("cannot read " + *line.TlsKeyFile)
                                   : frontEnd.ReplaceCertificate(*chain, *key);
    const std::string said =
        replaced ? "corvale-server: certificate reloaded from " + *line.TlsCertificateFile
                 : "corvale-server: certificate not reloaded, the one in use goes on: " +
                       replaced.Failure().Message;
    if (StandardErrorIsJournal()) {
        SendToJournal({replaced ? 6 : 3, said, "reload", replaced ? "ok" : "refused"});
    } else {
        std::cerr << said << std::endl;
    }
}

// The watchdog and status rounds towards the service manager, once everything serves.
std::unique_ptr<Watchdog> WatchOver(HttpFrontEnd& frontEnd, ReportWriter& writer,
                                    SystemdNotify& manager) {
    WatchdogSetup setup;
    if (const auto interval = SystemdNotify::WatchdogInterval()) {
        // Twice within the manager's interval, and never shorter than the loops' own beat
        // needs to show.
        setup.Round =
            std::max(std::chrono::milliseconds(200),
                     std::chrono::duration_cast<std::chrono::milliseconds>(*interval / 2));
        setup.Alive = [&manager] { manager.WatchdogAlive(); };
        const std::size_t loops = frontEnd.LoopProgress().size();
        for (std::size_t i = 0; i < loops; ++i) {
            setup.Parts.push_back([&frontEnd, i, last = std::uint64_t{0}]() mutable {
                const std::uint64_t now = frontEnd.LoopProgress()[i];
                const bool moved = now != last;
                last = now;
                return moved;
            });
        }
        setup.Parts.push_back(
            [&writer, seen = std::uint64_t{0}]() mutable { return writer.HasMovedSince(seen); });
    }
    // Counted from the moment everything serves, before any client could be answered.
    RequestRate served;
    served.Sample(RequestRate::Clock::now(), frontEnd.RequestsServed());
    setup.StatusLine = [&frontEnd, rate = std::move(served)]() mutable {
        rate.Sample(RequestRate::Clock::now(), frontEnd.RequestsServed());
        return std::to_string(frontEnd.OpenConnections()) + " connections, " +
               std::to_string(rate.PerMinute()) + " requests in the last minute";
    };
    setup.SendStatus = [&manager](const std::string& line) { manager.Status(line); };
    return std::make_unique<Watchdog>(std::move(setup));
}

bool Listen(HttpFrontEnd& frontEnd, const ListenAddress& address, bool secure) {
    const std::string shownHost = HostForDisplay(address.Host);
    const std::uint16_t port = frontEnd.Bind(address.Host, address.Port, secure);
    if (port == 0) {
        std::cerr << "corvale-server: cannot listen on " << shownHost << ':' << address.Port
                  << '\n';
        return false;
    }
    std::cout << "corvale-server listening on " << shownHost << ':' << port
              << (secure ? " (HTTPS)" : "") << std::endl;
    return true;
}

// The opt-in metrics socket, apart from the service's own listeners.
bool ListenForMetrics(const ListenAddress& address, const ProductVersion& clientVersion,
                      std::optional<Metrics>& metrics, std::optional<MetricsListener>& listener) {
    metrics.emplace(VersionText(clientVersion));
    listener.emplace(*metrics);
    const std::string shownHost = HostForDisplay(address.Host);
    const std::uint16_t port = listener->Bind(address.Host, address.Port);
    if (port == 0) {
        std::cerr << "corvale-server: cannot listen on " << shownHost << ':' << address.Port
                  << " for metrics\n";
        return false;
    }
    std::cout << "corvale-server metrics on " << shownHost << ':' << port << std::endl;
    return true;
}

int Serve(const CommandLine& line, const ProductVersion& clientVersion) {
    // The stop signals are blocked in every thread and taken by one waiting thread, so that
    // the server stops in an orderly way and the database is closed cleanly; so is SIGHUP,
    // which reloads the certificate.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit();

    std::optional<std::string> package;
    std::optional<std::string> signature;
    if (line.PackageFile) {
        auto bytes = ReadPackageFile(*line.PackageFile);
        if (!bytes) {
            std::cerr << "corvale-server: " << bytes.Failure().Message << '\n';
            return kExitFailure;
        }
        package = std::move(bytes).Value();
        auto signed_ = ReadPackageSignature(*line.PackageFile, line.SignatureFile);
        if (!signed_) {
            std::cerr << "corvale-server: " << signed_.Failure().Message << '\n';
            return kExitFailure;
        }
        signature = std::move(signed_).Value();
    }
    // The engine the database's name chooses.
    auto opened = OpenStorageEngine(line.Database);
    if (!opened) {
        std::cerr << "corvale-server: " << opened.Failure().Message << '\n';
        return kExitFailure;
    }
    const std::unique_ptr<StorageEngine> storage = std::move(*opened);
    ServiceActions actions(*storage,
                           UpdateOffer{clientVersion, line.OfferVersion, package, signature});
    std::optional<Metrics> metrics;
    std::optional<MetricsListener> metricsListener;
    if (line.MetricsListen &&
        !ListenForMetrics(*line.MetricsListen, clientVersion, metrics, metricsListener)) {
        return kExitFailure;
    }
    FrontEndOptions frontEndOptions{line.Threads, line.IoThreads, line.SignupOpen,
                                    line.AccessLog ? &std::cerr : nullptr, line.Limits};
    frontEndOptions.Counted = metrics ? &*metrics : nullptr;
    frontEndOptions.AccessLogToJournal = StandardErrorIsJournal();
#ifdef CORVALE_TEST_SEAMS
    if (const char* stallFile = std::getenv("CORVALE_STALL_FILE_FOR_TESTS")) {
        frontEndOptions.StallFileForTests = stallFile;
    }
#endif
    actions.CountInto(frontEndOptions.Counted);
    HttpFrontEnd frontEnd(*storage, actions, frontEndOptions);
    const bool secure = line.TlsCertificateFile.has_value();
    if (secure) {
        if (const Result<void> loaded = LoadCertificate(line, frontEnd); !loaded) {
            std::cerr << "corvale-server: " << loaded.Failure().Message << '\n';
            return kExitFailure;
        }
    }
    // With a certificate and one address, that one serves HTTPS; with two, the second does.
    if (!Listen(frontEnd, line.Listen, secure && !line.SecondListen) ||
        (line.SecondListen && !Listen(frontEnd, *line.SecondListen, true))) {
        return kExitFailure;
    }

    SystemdNotify manager;
    std::unique_ptr<Watchdog> watchdog;
    std::thread waiter([&] {
        int signalNumber = 0;
        while (sigwait(&stopSignals, &signalNumber) == 0 && signalNumber == SIGHUP) {
            ReloadCertificate(line, frontEnd);
        }
        manager.Stopping();
        frontEnd.Stop();
    });
    if (metricsListener) {
        metricsListener->Start();
    }
    const bool served = frontEnd.Run([&] {
        manager.Ready();
        watchdog = WatchOver(frontEnd, actions.Reports(), manager);
    });
    watchdog.reset();
    pthread_kill(waiter.native_handle(), SIGTERM); // wakes the waiter when no signal came
    waiter.join();
    return served ? kExitOk : kExitFailure;
}

} // namespace

int main(int argc, char** argv) {
    const Result<CommandLine> parsed =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed) {
        std::cerr << "corvale-server: " << parsed.Failure().Message
                  << "\nTry 'corvale-server --help'.\n";
        return kExitUsage;
    }
    const CommandLine& line = *parsed;
    InitCfg();
    const TProduct& product = Cfg.Product;
    const ProductVersion clientVersion{product.Major, product.Minor, product.Release,
                                       product.Build};
    if (line.ShowHelp) {
        std::cout << HelpText();
        return kExitOk;
    }
    if (line.ShowVersion) {
        std::cout << "corvale-server, the reference service for " << VersionDisplay(clientVersion)
                  << '\n';
        return kExitOk;
    }
    if (line.Command == "serve") {
        if (!line.Arguments.empty()) {
            std::cerr << "corvale-server: serve takes no arguments\n";
            return kExitUsage;
        }
        return Serve(line, clientVersion);
    }
    return RunAdminCommand(line, clientVersion, std::cin, std::cout, std::cerr);
}
