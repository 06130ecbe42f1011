#include "core/uTasksBuddies.h"

#include "core/WindowOps.h"
#include "core/uCfg.h"
#include "core/uDateTime.h"
#include "core/uEndpoint.h"
#include "core/uTasks.h"
#include "core/uTasksFinish.h"
#include "core/uTools.h"
#include "util/Lib1.h"

#include <functional>
#include <utility>

namespace {

constexpr std::string_view kRecordSeparator = ";";
constexpr std::string_view kFieldSeparator = ",";

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

bool IsBlankText(const std::string& text) {
    for (char c : text) {
        if (!IsBlankOrControl(c)) {
            return false;
        }
    }
    return true;
}

// The field at `index` (from 0), or empty text when the record has fewer fields.
std::string Field(const std::vector<std::string>& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::string();
}

std::string AccountUrl(std::string_view action) {
    const std::string id = Vars.UserID, pswd = Vars.Password;
    return ServiceRequestUrl(action, {{"id", id}, {"pswd", pswd}, {"v", VersionParameter()}});
}

std::string BuddyUrl(std::string_view action, const std::string& buddyId,
                     const std::string* hostList) {
    const std::string id = Vars.UserID, pswd = Vars.Password;
    if (hostList) {
        return ServiceRequestUrl(action, {{"id", id},
                                          {"pswd", pswd},
                                          {"invid", buddyId},
                                          {"hl", *hostList},
                                          {"v", VersionParameter()}});
    }
    return ServiceRequestUrl(
        action, {{"id", id}, {"pswd", pswd}, {"invid", buddyId}, {"v", VersionParameter()}});
}

// The bulk update of LV2 with its panels; finishing shows "OK" and the row count.
TFinishOnce BeginBuddyListUpdate() {
    WindowOps().SetStatusText(TStatusBar::SB2, 0, "Getting...");
    WindowOps().SetStatusText(TStatusBar::SB2, 2, "");
    WindowOps().BeginBuddyList();
    return TFinishOnce([] {
        WindowOps().EndBuddyList();
        WindowOps().SetStatusText(TStatusBar::SB2, 0, "OK");
        WindowOps().SetStatusText(TStatusBar::SB2, 2, std::to_string(WindowOps().BuddyRowCount()));
    });
}

// The dialog's host list with its GettingHostList flag, cleared however the fetch ends (a
// host number that is no valid integer ends the task, not the dialog's usefulness).
TFinishOnce BeginHostListUpdate(TInviteDialogLink dialog) {
    dialog->SetGettingHostList(true);
    dialog->BeginHostList();
    return TFinishOnce([dialog = std::move(dialog)] {
        dialog->EndHostList();
        dialog->SetGettingHostList(false);
    });
}

// Fetches one of the account's lists into a bulk update that is already open, each record
// through `append`. A refusal closes the update before its error box is shown; an answer
// logs the account in. An error in `append` ends the fetch there.
void FetchAccountList(std::string_view action, TFinishOnce& update,
                      const std::function<void(const std::string& record)>& append) {
    const TReply reply = SplitReply(ServiceCall(AccountUrl(action)));
    if (!reply.IsOK()) {
        update.Finish();
        ShowError(reply.Message);
        return;
    }
    Vars.LoginID = Vars.UserID.Load();
    for (const std::string& record : CutItems(reply.Message, kRecordSeparator)) {
        append(record);
    }
    update.Finish();
}

} // namespace

std::vector<std::string> CutItems(std::string text, std::string_view separator) {
    std::vector<std::string> items;
    while (!text.empty()) {
        std::string item;
        SplitFirst(text, separator, item, text);
        items.push_back(std::move(item));
    }
    return items;
}

TBuddyRow ParseBuddyRecord(const std::string& record) {
    const auto fields = CutItems(record, kFieldSeparator);
    return {Field(fields, 0), Field(fields, 3), Field(fields, 1),
            BuddyDateTimeText(Field(fields, 2))};
}

THostRow ParseHostRecord(const std::string& record) {
    const auto fields = CutItems(record, kFieldSeparator);
    return {Field(fields, 1), StrToIntSafe(Field(fields, 0))};
}

std::string BuddyDateTimeText(const std::string& field) {
    std::string date, time;
    SplitFirst(field, " ", date, time);
    if (IsBlankText(date) || IsBlankText(time)) {
        return std::string();
    }
    TArrayOfString dateParts(3), timeParts(3);
    SplitToArray(date, "-", dateParts);
    SplitToArray(time, ":", timeParts);
    TDateTimeParts parts;
    try {
        parts.Year = StrToIntSafe(dateParts[0]);
        parts.Month = StrToIntSafe(dateParts[1]);
        parts.Day = StrToIntSafe(dateParts[2]);
        parts.Hour = StrToIntSafe(timeParts[0]);
        parts.Minute = StrToIntSafe(timeParts[1]);
        parts.Second = StrToIntSafe(timeParts[2]);
    } catch (const EConvertError&) {
        return std::string(); // a number that is none: no date-time, like any other bad part
    }
    const auto value = TryEncodeDateTime(parts);
    if (!value || *value == 0.0) {
        return std::string();
    }
    return FormatDisplayDateTime(*value);
}

void getbuddies(TTaskRec&) {
    TFinishOnce list = BeginBuddyListUpdate();
    FetchAccountList("getbuddies", list, [](const std::string& record) {
        const TBuddyRow row = ParseBuddyRecord(record);
        WindowOps().AppendBuddyRow(row.UserID, row.Host, row.Address, row.DateTime);
    });
}

void invite(TTaskRec& task) {
    std::string buddyId, hostList;
    SplitFirst(TakeTextArg(task), ";", buddyId, hostList);
    const TReply reply = SplitReply(ServiceCall(BuddyUrl("invite", buddyId, &hostList)));
    if (reply.IsOK()) {
        WindowOps().ShowMessage(buddyId + " was successfuly invited !", "Invite", TMsgButtons::OK);
    } else {
        ShowError(reply.Message);
    }
}

void exclude(TTaskRec& task) {
    const std::string buddyId = TakeTextArg(task);
    const TReply reply = SplitReply(ServiceCall(BuddyUrl("exclude", buddyId, nullptr)));
    StartGetBuddies(); // the list is fetched again whatever the reply said
    if (reply.IsOK()) {
        WindowOps().ShowMessage(buddyId + " was successfuly excluded !", "Exclude",
                                TMsgButtons::OK);
    } else {
        ShowError(reply.Message);
    }
}

void gethostlist(TTaskRec& task) {
    TInviteDialogLink dialog = DialogArg(task);
    if (!dialog) {
        return;
    }
    TFinishOnce hosts = BeginHostListUpdate(dialog);
    FetchAccountList("gethostlist", hosts, [&dialog](const std::string& record) {
        const THostRow row = ParseHostRecord(record); // a bad number ends the fetch here
        dialog->AppendHostRow(row.Host, row.Number);
    });
}
