// The time of `backup` for a database of 100,000 hosts, alone and while a writer goes on
// recording addresses through the service's engine, and the time of `check` on the copy.
// Three rounds each, the best counts; prints the database's size and the writer's commits
// made during the backup.

#include "server/Backup.h"
#include "server/Storage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sqlite3.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kAccounts = 400;
constexpr int kHostsEach = 250; // 100,000 hosts in all
using Seconds = std::chrono::duration<double>;

bool MakeDatabase(const std::string& path) {
    {
        server::Storage storage(path, server::LowestCostForTests());
        for (int a = 0; a < kAccounts; ++a) {
            if (!storage.CreateAccount("user" + std::to_string(a), "stored", 1'700'000'000)) {
                return false;
            }
        }
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        return false;
    }
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO hosts(account, name, address, reported, client_version) "
                       "SELECT id, ?1, ?2, 1700000000, '0.3.11.25' FROM accounts",
                       -1, &insert, nullptr);
    for (int h = 0; h < kHostsEach; ++h) {
        const std::string name = "host-" + std::to_string(h);
        const std::string address = "192.0.2." + std::to_string(h % 250);
        sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, address.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool done = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

double Timed(const std::function<bool()>& body) {
    const auto start = std::chrono::steady_clock::now();
    if (!body()) {
        return -1;
    }
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("corvale-bench-backup-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string database = folder / "service.db";
    const std::string copy = folder / "copy.db";
    if (!MakeDatabase(database)) {
        std::fprintf(stderr, "cannot make the database\n");
        return 1;
    }
    server::BackupOutcome outcome;
    const auto backup = [&] {
        auto copied = server::BackupDatabase(database, copy);
        if (!copied) {
            std::fprintf(stderr, "backup: %s\n", copied.Failure().Message.c_str());
            return false;
        }
        outcome = *copied;
        return true;
    };
    double alone = 1e9, busy = 1e9, check = 1e9;
    int writesDuring = 0;
    for (int round = 0; round < 3; ++round) {
        alone = std::min(alone, Timed(backup));
        check = std::min(check, Timed([&] {
                             const auto problems = server::CheckDatabase(copy);
                             return problems && problems->empty();
                         }));
    }
    {
        server::Storage storage(database, server::LowestCostForTests());
        const auto account = *storage.FindAccount("user0");
        std::atomic<bool> stop{false};
        std::atomic<int> writes{0};
        std::thread writer([&] {
            for (int i = 0; !stop; ++i) {
                if (storage.RecordAddress(*account, "host-" + std::to_string(i % kHostsEach),
                                          "198.51.100." + std::to_string(i % 250),
                                          1'700'000'000 + i, "0.3.11.25")) {
                    ++writes;
                }
            }
        });
        for (int round = 0; round < 3; ++round) {
            const int before = writes;
            const double seconds = Timed(backup);
            if (seconds >= 0 && seconds < busy) {
                busy = seconds;
                writesDuring = writes - before;
            }
        }
        stop = true;
        writer.join();
    }
    std::printf("backup of %d hosts (%lld bytes, %lld pages): %.3f s alone, %.3f s while a "
                "writer made %d commits during it; check of the copy: %.3f s\n",
                kAccounts * kHostsEach, static_cast<long long>(outcome.Bytes),
                static_cast<long long>(outcome.Pages), alone, busy, writesDuring, check);
    fs::remove_all(folder);
    return alone < 0 || busy < 0 || check < 0 ? 1 : 0;
}
