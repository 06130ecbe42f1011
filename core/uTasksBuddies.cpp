#include "core/uTasksBuddies.h"

// The buddy operations arrive with their own change. Until then their starters are wired and
// these bodies do nothing (they only release the argument they own).

void getbuddies(TTaskRec&) {}
void invite(TTaskRec& task) {
    TakeTextArg(task);
}
void exclude(TTaskRec& task) {
    TakeTextArg(task);
}
void gethostlist(TTaskRec&) {}
