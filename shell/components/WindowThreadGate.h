#pragma once
// Carries calls from task threads to the window thread and lets each task wait until its call
// is done. Closing the gate (when the main window goes) releases every waiting task at once
// with a fallback answer, and calls that arrive later are not carried at all, so a task that
// outlives the window can neither touch it nor hang the end of the program.
//
// Why not a blocking queued call: a task blocked in one cannot be released by the window
// thread when the window goes, and the receiver could be destroyed between the task's check
// and its post. Here posting happens under the gate's lock, and waiting can be ended by Close.

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

class TWindowThreadGate {
public:
    // Calls made on the window thread that need an answer later (a box) hand it to this.
    template <typename R> using TCompletion = std::function<void(R)>;

    // Opens the gate for `context`, an object of the window thread that stays alive until
    // Close. Window thread only.
    void Open(QObject* context);
    // Releases every waiting task with its fallback; later calls are not carried. Window
    // thread only.
    void Close();
    bool IsOpen() const;
    bool OnWindowThread() const;

    // Runs `work` on the window thread and returns its result (directly when called there).
    // `fallback` when the gate is closed or closes while the task waits.
    template <typename R> R Invoke(std::function<R()> work, R fallback) {
        if (OnWindowThread()) {
            return IsOpen() ? work() : fallback;
        }
        auto result = std::make_shared<std::optional<R>>();
        const bool done = RunAndWait([work = std::move(work), result](const Finish& finish) {
            result->emplace(work());
            finish();
        });
        return done ? std::move(**result) : fallback;
    }
    void Invoke(std::function<void()> work);

    // Starts `start` on the window thread and waits until it hands its answer to the
    // completion it was given, which may happen long after `start` returned (a box the user
    // answers later). Task threads only: the window thread cannot wait for itself.
    template <typename R> R Await(std::function<void(TCompletion<R>)> start, R fallback) {
        auto result = std::make_shared<std::optional<R>>();
        const bool done = RunAndWait([start = std::move(start), result](const Finish& finish) {
            start([result, finish](R value) {
                if (!result->has_value()) {
                    result->emplace(std::move(value));
                    finish();
                }
            });
        });
        return done ? std::move(**result) : fallback;
    }

    // Runs `work` on the window thread later, without waiting (a posted message).
    void Post(std::function<void()> work);

private:
    using Finish = std::function<void()>;
    // False when the gate was closed before the call or while it waited.
    bool RunAndWait(std::function<void(const Finish&)> start);
    bool IsCurrent(std::uint64_t generation) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QObject* context_ = nullptr;
    QThread* thread_ = nullptr;
    // Changes at every Open and Close, so that a call made for one window is never carried
    // out for the next (tests create several in turn).
    std::uint64_t generation_ = 0;
    bool open_ = false;
};
