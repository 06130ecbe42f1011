#pragma once
// The mechanism every service operation runs on: a task record naming the procedure to run
// and its argument, and a thread of its own that runs it and then frees the record. There is
// no pool, queue, limit or tracking: nothing joins, counts or waits for a task.

#include "core/WindowOps.h"
#include "util/Lib1.h"

#include <memory>
#include <string>
#include <thread>
#include <variant>

struct TTaskRec;
using TTaskProc = void (*)(TTaskRec& task);

// A task's argument: none, a text the task body owns (made with StrNewCopy), or the invite
// dialog the task may use but does not own.
using TTaskArg = std::variant<std::monostate, TStrCopy, TInviteDialogLink>;

struct TTaskRec {
    std::thread Thread;       // set by StartTask before the task runs
    TTaskProc Work = nullptr; // the task body, on the task's thread
    TTaskProc Done = nullptr; // after Work, on the task's thread; may be none
    TTaskArg Arg;
};

// A new, empty record.
std::unique_ptr<TTaskRec> NewTask();
// Starts the record's thread and hands the record to it. When no thread can be created, the
// operation does not run and nothing is reported.
void StartTask(std::unique_ptr<TTaskRec> task);
// The thread's entry: runs Work and Done, then frees the record. An error that escapes the
// task body ends this task only.
void TaskThreadProc(TTaskRec* task);
// Frees the record and lets its thread go (the thread is never joined). None does nothing.
void FreeTask(TTaskRec* task);

// The Done procedure of every task of this client.
void TaskDoneNothing(TTaskRec& task);

// The task's text argument, taken over by the body: the block is freed at once and Arg
// becomes none. None reads as empty text.
std::string TakeTextArg(TTaskRec& task);
// The invite dialog the task was given, or none.
TInviteDialogLink DialogArg(const TTaskRec& task);

// Where a task's unhandled error is reported (the default writes one line to stderr). Tests
// install their own to see that a task ended this way.
using TTaskErrorSink = void (*)(const std::string& message);
void SetTaskErrorSinkForTests(TTaskErrorSink sink);
