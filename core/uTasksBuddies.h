#pragma once
// The buddy operations: the buddy list, invitations, exclusions and the host list of the
// invite dialog.

#include "core/uThreads.h"

void getbuddies(TTaskRec& task);
void invite(TTaskRec& task);
void exclude(TTaskRec& task);
void gethostlist(TTaskRec& task);
