#include "core/uTasksIP.h"

#include "core/WindowOps.h"
#include "core/uCfg.h"
#include "core/uClock.h"
#include "core/uDateTime.h"
#include "core/uEndpoint.h"
#include "core/uTasks.h"
#include "core/uTasksFinish.h"
#include "core/uTools.h"
#include "util/Lib1.h"

namespace {

constexpr unsigned kWaitBeforeReportMs = 100;

std::string GetIPUrl() {
    const std::string id = Vars.UserID, pswd = Vars.Password, host = Vars.HostName;
    return ServiceRequestUrl(
        "getip", {{"id", id}, {"pswd", pswd}, {"host", host}, {"v", VersionParameter()}});
}

std::string SetIPUrl() {
    const std::string id = Vars.UserID, pswd = Vars.Password, host = Vars.HostName, ip = Vars.IP;
    return ServiceRequestUrl(
        "setip",
        {{"id", id}, {"pswd", pswd}, {"host", host}, {"ip", ip}, {"v", VersionParameter()}});
}

} // namespace

// Every window operation asks for the window afresh: a task may outlive the main window.

void getip(TTaskRec&) {
    WindowOps().StopTimer();
    // Timer1 is re-armed however the check ends, so that an unexpected error in one check
    // cannot switch the periodic checking off for good; after an error box only once it is
    // dismissed.
    TFinishOnce restartTimer([] { WindowOps().RestartTimerIfActive(); });

    const TReply reply = SplitReply(ServiceCall(GetIPUrl()));
    const TDateTime answered = Now();
    WindowOps().SetStatusText(TStatusBar::SB1, 3, FormatDisplayDateTime(answered));
    if (!reply.IsOK()) {
        ShowError(reply.Message);
        return;
    }

    const auto [current, onRecord] = SplitGetIPReply(reply.Message);
    if (current != Vars.IP.Load()) {
        IPChanged(current, answered);
    } else if (current != onRecord) {
        StartSetIP(); // the address is unchanged but the service's record differs
    }
}

TGetIPReply SplitGetIPReply(const std::string& message) {
    TGetIPReply reply;
    SplitFirst(message, " ", reply.Current, reply.OnRecord);
    return reply;
}

void IPChanged(const std::string& address, TDateTime seen) {
    Vars.ChangeTime = seen;
    // The check's own time: an overlapping check may already have changed the record's.
    WindowOps().AppendHistoryRow(address, FormatDisplayDateTime(seen));
    Vars.IP = address;
    WindowOps().SetStatusText(TStatusBar::SB1, 1, address);
    WindowOps().SetTrayHint(Cfg.Product.VersionText + ": " + address);
    Sleep(kWaitBeforeReportMs);
    StartSetIP();
}

void setip(TTaskRec&) {
    if (Vars.UserID.Load().empty() || Vars.Password.Load().empty() ||
        !WindowOps().IsActiveChecked()) {
        UpdateCaption();
        return;
    }
    Vars.LoginID = kLoginMarker;
    const TReply reply = SplitReply(ServiceCall(SetIPUrl()));
    if (reply.IsOK()) {
        Vars.LoginID = Vars.UserID.Load();
    } else {
        ShowError(reply.Message);
    }
    UpdateCaption();
}

std::string CaptionText() {
    const std::string base = CaptionBase();
    const std::string loginId = Vars.LoginID;
    if (loginId.empty()) {
        return base + " (not logged-in)";
    }
    if (loginId == kLoginMarker) {
        return base + " - (INVALID ID)";
    }
    return base + " - " + loginId + " on " + Vars.HostName.Load();
}

void UpdateCaption() {
    WindowOps().SetCaption(CaptionText());
}
