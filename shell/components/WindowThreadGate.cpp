#include "shell/components/WindowThreadGate.h"

#include <QThread>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

// A call carried to the window thread. The event queue orders everything the task thread did
// before posting it before its run on the window thread, but it does so inside the window
// framework, whose locks and atomics the race detector cannot see (that library is not built
// for it). So the call itself tells the detector: it hands over when it is moved into the
// posted event, and it is taken over before it runs or goes unrun.
class TCarriedCall {
public:
    explicit TCarriedCall(std::function<void()> call) : call_(std::move(call)) {}
    TCarriedCall(TCarriedCall&& other) noexcept : call_(std::move(other.call_)) {
        HandingOver(this);
    }
    TCarriedCall(const TCarriedCall&) = delete;
    TCarriedCall& operator=(const TCarriedCall&) = delete;
    TCarriedCall& operator=(TCarriedCall&&) = delete;
    ~TCarriedCall() { TakingOver(this); }

    void operator()() {
        TakingOver(this); // before anything of the call is read
        call_();
    }

private:
    static void HandingOver([[maybe_unused]] void* call) {
#if defined(__SANITIZE_THREAD__)
        __tsan_release(call);
#endif
    }
    static void TakingOver([[maybe_unused]] void* call) {
#if defined(__SANITIZE_THREAD__)
        __tsan_acquire(call);
#endif
    }

    std::function<void()> call_;
};

} // namespace

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
        context_, TCarriedCall([this, work = std::move(work), generation = generation_] {
            if (IsCurrent(generation)) {
                work();
            }
        }),
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
    QMetaObject::invokeMethod(context_,
                              TCarriedCall([this, start = std::move(start), finished, generation] {
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
                              }),
                              Qt::QueuedConnection);
    changed_.wait(lock, [&] { return *finished || generation_ != generation; });
    return *finished;
}
