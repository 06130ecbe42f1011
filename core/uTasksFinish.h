#pragma once
// The closing steps of a task that must run however the task ends.

#include <functional>
#include <utility>

// Runs `finish` exactly once: when the task calls Finish, or when it leaves the scope however
// it ends, an error included, so that nothing the task began stays half done.
class TFinishOnce {
public:
    explicit TFinishOnce(std::function<void()> finish) : finish_(std::move(finish)) {}
    TFinishOnce(const TFinishOnce&) = delete;
    TFinishOnce& operator=(const TFinishOnce&) = delete;
    ~TFinishOnce() {
        try {
            Finish();
        } catch (...) {
            // The window or the dialog is going away; there is nothing left to finish.
        }
    }
    void Finish() {
        if (auto finish = std::exchange(finish_, nullptr)) {
            finish();
        }
    }

private:
    std::function<void()> finish_;
};
