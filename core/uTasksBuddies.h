#pragma once
// The buddy operations: the buddy list, invitations, exclusions and the host list of the
// invite dialog.

#include "core/uThreads.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Fetches the buddy list into LV2 and SB2.
void getbuddies(TTaskRec& task);
// Sends an invitation; the argument is the invited user ID, ";", the offered host list.
void invite(TTaskRec& task);
// Removes a buddy (the argument is the buddy's ID), then fetches the buddy list again.
void exclude(TTaskRec& task);
// Fills the host list of the invite dialog given as the argument.
void gethostlist(TTaskRec& task);

// The items of a list reply: the text before each separator, the rest after the last one;
// "a;;b" gives three items, "a;" one, empty text none.
std::vector<std::string> CutItems(std::string text, std::string_view separator);

// One buddy record as the buddy list shows it; missing fields are empty.
struct TBuddyRow {
    std::string UserID;
    std::string Host;
    std::string Address;
    std::string DateTime; // in the display format, or empty
    bool operator==(const TBuddyRow&) const = default;
};
// The fields of one buddy record ("jdoe,192.0.2.7,2006-11-11 14:05:09,OFFICE-PC"): on the
// wire the host comes last; fields past the fourth are ignored.
TBuddyRow ParseBuddyRecord(const std::string& record);

// One host record of the invite dialog's list ("12,OFFICE-PC").
struct THostRow {
    std::string Host;
    std::int32_t Number = 0;
    bool operator==(const THostRow&) const = default;
};
// The host number is read with StrToIntSafe: non-numeric text gives 0, a number-like text that
// is no valid integer raises its conversion error.
THostRow ParseHostRecord(const std::string& record);

// A buddy record's date-time field ("2006-11-11 14:05:09") in the display format; empty when
// it holds no complete date and time, no valid calendar date and time, or the day-zero value.
std::string BuddyDateTimeText(const std::string& field);
