#pragma once
// Log lines for the system journal when the service runs under it: each with a priority and
// fields of its own (CORVALE_ACTION, CORVALE_STATUS) an operator can filter on. Nothing a
// client sent beyond the action's name goes into them: no password, no query value.

#include "server/HttpRoutes.h"

#include <functional>
#include <string>

namespace server {

struct JournalEntry {
    int Priority = 6;    // syslog's levels: 3 error, 5 notice, 6 info
    std::string Message; // the line as standard error would show it
    std::string Action;  // CORVALE_ACTION: the service action, a page, "probe", "reload"...
    std::string Status;  // CORVALE_STATUS: the HTTP status, or "ok" / "refused"
};

// Whether standard error is the journal's stream: JOURNAL_STREAM names its device and inode.
bool StandardErrorIsJournal();

// Sends the entry to the journal (or to what a test put in its place).
void SendToJournal(const JournalEntry& entry);
// Entries go to `capture` instead of the journal from now on; an empty one puts it back.
void CaptureJournalForTests(std::function<void(const JournalEntry&)> capture);

// The access log's entry for one request: a server failure is an error, a refusal a notice.
JournalEntry AccessEntry(const HttpRequestInfo& request, const HttpReply& reply);

} // namespace server
