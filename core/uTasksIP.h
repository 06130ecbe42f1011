#pragma once
// The address check and report: the task bodies that find this computer's public address,
// record a change and report it to the service, and the window caption that shows whether
// the service accepted the account.

#include "core/uThreads.h"
#include "core/uTypes.h"

#include <string>

// The address check (task body): asks the service for the current public address and
// compares it with the last one seen and with the one the service holds on record.
void getip(TTaskRec& task);
// The address report (task body): sends Vars.IP under the account and sets the login state.
void setip(TTaskRec& task);
// Records a new address seen at `seen`: history row, Vars.IP, status bar, tray hint, and
// after 100 ms the report. Runs on the calling check's thread.
void IPChanged(const std::string& address, TDateTime seen);
// The message of a successful address check: the address the service sees now, one blank,
// the address it holds on record (the rest of the text, further blanks included).
struct TGetIPReply {
    std::string Current;
    std::string OnRecord;
};
TGetIPReply SplitGetIPReply(const std::string& message);

// Sets the main window's caption from the login state.
void UpdateCaption();
// The caption UpdateCaption sets, for the current login state.
std::string CaptionText();
