#include "core/uThreads.h"

#include <atomic>
#include <cstdio>
#include <cxxabi.h>
#include <exception>
#include <future>
#include <system_error>

namespace {

void WriteTaskErrorToStderr(const std::string& message) {
    std::fprintf(stderr, "corvale: a background task ended with an error: %s\n", message.c_str());
}

std::atomic<TTaskErrorSink> taskErrorSink{&WriteTaskErrorToStderr};

void ReportTaskError(const std::string& message) {
    taskErrorSink.load()(message);
}

// Runs one procedure of the task; whatever it raises ends this task's procedure only.
void RunGuarded(TTaskProc proc, TTaskRec& task) {
    if (!proc) {
        return;
    }
    try {
        proc(task);
    } catch (abi::__forced_unwind&) {
        throw; // a cancelled thread must unwind to its end
    } catch (const std::exception& e) {
        ReportTaskError(e.what());
    } catch (...) {
        ReportTaskError("unknown error");
    }
}

} // namespace

std::unique_ptr<TTaskRec> NewTask() {
    return std::make_unique<TTaskRec>();
}

void StartTask(std::unique_ptr<TTaskRec> task) {
    if (!task) {
        return;
    }
    // The new thread waits at this gate until its record holds its own thread handle, as a
    // thread created suspended would.
    std::promise<void> handleStored;
    std::future<void> gate = handleStored.get_future();
    TTaskRec* record = task.get();
    try {
        record->Thread = std::thread(
            [record](std::future<void> ready) {
                ready.wait();
                TaskThreadProc(record);
            },
            std::move(gate));
    } catch (const std::system_error&) {
        return; // no thread: the operation does not run; the record and its argument go
    }
    task.release(); // from here on the thread owns the record
    handleStored.set_value();
}

void TaskThreadProc(TTaskRec* task) {
    RunGuarded(task->Work, *task);
    RunGuarded(task->Done, *task);
    FreeTask(task);
}

void FreeTask(TTaskRec* task) {
    if (!task) {
        return;
    }
    std::thread handle = std::move(task->Thread);
    delete task;
    if (handle.joinable()) {
        handle.detach(); // closes our handle; the thread itself runs on to its end
    }
}

void TaskDoneNothing(TTaskRec&) {}

std::string TakeTextArg(TTaskRec& task) {
    std::string text;
    if (const auto* copy = std::get_if<TStrCopy>(&task.Arg)) {
        text = StrFromCopy(*copy);
    }
    task.Arg = std::monostate{};
    return text;
}

TInviteDialogLink DialogArg(const TTaskRec& task) {
    if (const auto* link = std::get_if<TInviteDialogLink>(&task.Arg)) {
        return *link;
    }
    return nullptr;
}

void SetTaskErrorSinkForTests(TTaskErrorSink sink) {
    taskErrorSink.store(sink ? sink : &WriteTaskErrorToStderr);
}
