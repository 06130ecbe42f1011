#include "shell/components/WindowThreadGate.h"

#include <QThread>

void TWindowThreadGate::Open(QObject* context) {
    std::lock_guard lock(mutex_);
    context_ = context;
    thread_ = context->thread();
    ++generation_;
    open_ = true;
}

void TWindowThreadGate::Close() {
    {
        std::lock_guard lock(mutex_);
        context_ = nullptr;
        ++generation_;
        open_ = false;
    }
    changed_.notify_all();
}

bool TWindowThreadGate::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

bool TWindowThreadGate::OnWindowThread() const {
    std::lock_guard lock(mutex_);
    return thread_ != nullptr && QThread::currentThread() == thread_;
}

bool TWindowThreadGate::IsCurrent(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return open_ && generation_ == generation;
}

void TWindowThreadGate::Invoke(std::function<void()> work) {
    Invoke<bool>(
        [work = std::move(work)] {
            work();
            return true;
        },
        false);
}

void TWindowThreadGate::Post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (!open_) {
        return;
    }
    QMetaObject::invokeMethod(
        context_,
        [this, work = std::move(work), generation = generation_] {
            if (IsCurrent(generation)) {
                work();
            }
        },
        Qt::QueuedConnection);
}

bool TWindowThreadGate::RunAndWait(std::function<void(const Finish&)> start) {
    // Owned jointly by the waiting task and the window thread; guarded by mutex_.
    auto finished = std::make_shared<bool>(false);
    std::unique_lock lock(mutex_);
    if (!open_) {
        return false;
    }
    const std::uint64_t generation = generation_;
    // Posted under the lock: Close, which comes before the context is destroyed, cannot run
    // in between, so the context is alive here.
    QMetaObject::invokeMethod(
        context_,
        [this, start = std::move(start), finished, generation] {
            if (!IsCurrent(generation)) {
                return;
            }
            start([this, finished] {
                {
                    std::lock_guard doneLock(mutex_);
                    *finished = true;
                }
                changed_.notify_all();
            });
        },
        Qt::QueuedConnection);
    changed_.wait(lock, [&] { return *finished || generation_ != generation; });
    return *finished;
}
