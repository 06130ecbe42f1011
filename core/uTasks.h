#pragma once
// One starter per service operation. Each starts the operation on a thread of its own and
// returns at once; nobody learns when or how the task ends.

#include "core/WindowOps.h"

#include <string>

void StartGetIP();
void StartSetIP();
void StartGetBuddies();
void StartInvite(const std::string& invitedId, const std::string& hostList);
void StartExclude(const std::string& buddyId);
void StartClver();
void StartDlupdate();
void StartGetHostList(TInviteDialogLink dialog);
