#pragma once
// The version check and the self-update hand-over.

#include "core/uThreads.h"

void clver(TTaskRec& task);
void dlupdate(TTaskRec& task);
