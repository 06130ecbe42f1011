// TEMPORARY, tests only: stands in for the background tasks' host-list starter until they
// land, so that the shell library links. The tests inject their own starter; this one is
// never called. Remove when core/uTasks provides StartGetHostList.

#include "core/uTasks.h"

#include <cstdlib>

void StartGetHostList(TInviteDialogLink) {
    std::abort();
}
