#pragma once
// One starter per service operation. Each starts the operation on a thread of its own and
// returns at once; nobody learns when or how the task ends.

#include "core/WindowOps.h"
#include "core/uThreads.h"

#include <memory>
#include <string>

void StartGetIP();
void StartSetIP();
void StartGetBuddies();
void StartInvite(const std::string& invitedId, const std::string& hostList);
void StartExclude(const std::string& buddyId);
void StartClver();
void StartDlupdate();
void StartGetHostList(TInviteDialogLink dialog);

// The filled records that the starters with an argument start: the invitation's text is the
// invited user ID, ";", the host list; the exclusion's is the buddy's ID (none when empty).
std::unique_ptr<TTaskRec> NewInviteTask(const std::string& invitedId, const std::string& hostList);
std::unique_ptr<TTaskRec> NewExcludeTask(const std::string& buddyId);
std::unique_ptr<TTaskRec> NewGetHostListTask(TInviteDialogLink dialog);
