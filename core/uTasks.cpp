#include "core/uTasks.h"

#include "core/uTasksBuddies.h"
#include "core/uTasksIP.h"
#include "core/uTasksUpdate.h"

namespace {

std::unique_ptr<TTaskRec> NewTaskFor(TTaskProc work) {
    auto task = NewTask();
    task->Work = work;
    task->Done = &TaskDoneNothing;
    return task;
}

void Start(TTaskProc work) {
    StartTask(NewTaskFor(work));
}

// An owned copy of the text; empty text hands the task no block at all.
TTaskArg TextArg(const std::string& text) {
    TStrCopy copy = StrNewCopy(text);
    if (!copy) {
        return std::monostate{};
    }
    return copy;
}

} // namespace

std::unique_ptr<TTaskRec> NewInviteTask(const std::string& invitedId, const std::string& hostList) {
    auto task = NewTaskFor(&invite);
    task->Arg = TextArg(invitedId + ";" + hostList);
    return task;
}

std::unique_ptr<TTaskRec> NewExcludeTask(const std::string& buddyId) {
    auto task = NewTaskFor(&exclude);
    task->Arg = TextArg(buddyId);
    return task;
}

std::unique_ptr<TTaskRec> NewGetHostListTask(TInviteDialogLink dialog) {
    auto task = NewTaskFor(&gethostlist);
    task->Arg = std::move(dialog);
    return task;
}

void StartGetIP() {
    Start(&getip);
}
void StartSetIP() {
    Start(&setip);
}
void StartGetBuddies() {
    Start(&getbuddies);
}
void StartInvite(const std::string& invitedId, const std::string& hostList) {
    StartTask(NewInviteTask(invitedId, hostList));
}
void StartExclude(const std::string& buddyId) {
    StartTask(NewExcludeTask(buddyId));
}
void StartClver() {
    Start(&clver);
}
void StartDlupdate() {
    Start(&dlupdate);
}
void StartGetHostList(TInviteDialogLink dialog) {
    StartTask(NewGetHostListTask(std::move(dialog)));
}
