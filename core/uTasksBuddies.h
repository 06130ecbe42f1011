#pragma once
// The buddy operations: the buddy list, invitations, exclusions and the host list of the
// invite dialog.

#include "core/uThreads.h"

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

// A buddy record's date-time field ("2006-11-11 14:05:09") in the display format; empty when
// it holds no complete date and time, no valid calendar date and time, or the day-zero value.
std::string BuddyDateTimeText(const std::string& field);
