#include "server/Journal.h"

#include "server/Metrics.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace server {

namespace {

std::mutex captureMutex;
std::function<void(const JournalEntry&)>& Capture() {
    static std::function<void(const JournalEntry&)> capture;
    return capture;
}

} // namespace

bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat status {};
    if (!stream || fstat(STDERR_FILENO, &status) != 0) {
        return false;
    }
    // A child of the service would inherit the variable with another standard error.
    return std::string(stream) ==
           std::to_string(status.st_dev) + ':' + std::to_string(status.st_ino);
}

void SendToJournal(const JournalEntry& entry) {
    {
        std::lock_guard lock(captureMutex);
        if (Capture()) {
            Capture()(entry);
            return;
        }
    }
    sd_journal_send("MESSAGE=%s", entry.Message.c_str(), "PRIORITY=%d", entry.Priority,
                    "CORVALE_ACTION=%s", entry.Action.c_str(), "CORVALE_STATUS=%s",
                    entry.Status.c_str(), "SYSLOG_IDENTIFIER=corvale-server", nullptr);
}

void CaptureJournalForTests(std::function<void(const JournalEntry&)> capture) {
    std::lock_guard lock(captureMutex);
    Capture() = std::move(capture);
}

JournalEntry AccessEntry(const HttpRequestInfo& request, const HttpReply& reply) {
    const int priority = reply.Status >= 500 ? 3 : reply.Status >= 400 ? 5 : 6;
    return {priority, AccessLogLine(request, reply), std::string(RequestKind(request.Target)),
            std::to_string(reply.Status)};
}

} // namespace server
