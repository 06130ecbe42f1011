#pragma once
// Answers every message box while it lives, recording what each would have shown.

#include "shell/components/MessageBox.h"
#include "tests/support/ScopedSeam.h"

#include <vector>

class TMessageBoxRecorder {
public:
    explicit TMessageBoxRecorder(TMsgAnswer answer = TMsgAnswer::OK) : answer_(answer) {}
    TMessageBoxRecorder(const TMessageBoxRecorder&) = delete;
    TMessageBoxRecorder& operator=(const TMessageBoxRecorder&) = delete;

    const std::vector<TMessageBoxRequest>& Requests() const { return requests_; }
    void Clear() { requests_.clear(); }

private:
    TMsgAnswer answer_;
    std::vector<TMessageBoxRequest> requests_;
    testing_support::ScopedSeam<TMessageBoxHook> hook_{SetMessageBoxHookForTests,
                                                       [this](const TMessageBoxRequest& request) {
                                                           requests_.push_back(request);
                                                           return answer_;
                                                       }};
};
