#include "download/blocking_call_waiter.h"

#include "platform/message_pump.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Upper bound of one wait between two pumps of the caller's messages.
constexpr std::chrono::milliseconds kMaxPoll{40};

}  // namespace

struct TBlockingCallWaiter::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> call;       // the next call for the thread
    std::function<void()> abandoned;  // what the thread runs after a call given up
    bool busy = false;                // a call is running or waiting to run
    bool givenUp = false;             // the caller stopped waiting: the thread ends after the call
    bool closing = false;             // the waiter is gone: the idle thread ends
};

TBlockingCallWaiter::TBlockingCallWaiter(THttpStopQuery stopRequested) : stopRequested_(std::move(stopRequested)) {}

TBlockingCallWaiter::~TBlockingCallWaiter() {
    if (!shared_) return;
    std::lock_guard lock(shared_->mutex);
    shared_->closing = true;
    shared_->changed.notify_all();
}

void TBlockingCallWaiter::StartThread() {
    shared_ = std::make_shared<Shared>();
    // Detached: the thread holds its own share of the state, so that a call
    // given up may outlive the waiter.
    std::thread([shared = shared_] {
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->changed.wait(lock, [&] { return shared->call || shared->closing; });
            if (!shared->call) return;
            std::function<void()> call = std::move(shared->call);
            shared->call = nullptr;
            lock.unlock();
            call();
            lock.lock();
            shared->busy = false;
            if (shared->givenUp) {
                if (shared->abandoned) shared->abandoned();
                return;
            }
            shared->changed.notify_all();
        }
    }).detach();
}

bool TBlockingCallWaiter::Run(std::function<void()> call, std::function<void()> abandoned,
                              std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    return Run(std::move(call), std::move(abandoned), [deadline] { return deadline; });
}

bool TBlockingCallWaiter::Run(std::function<void()> call, std::function<void()> abandoned, const Deadline& deadline) {
    if (!shared_) StartThread();
    const std::shared_ptr<Shared> shared = shared_;
    std::unique_lock lock(shared->mutex);
    shared->call = std::move(call);
    shared->abandoned = std::move(abandoned);
    shared->busy = true;
    shared->changed.notify_all();
    for (;;) {
        const auto wait = std::min<Clock::duration>(kMaxPoll, std::max<Clock::duration>(deadline() - Clock::now(), {}));
        if (shared->changed.wait_for(lock, wait, [&] { return !shared->busy; })) return true;
        lock.unlock();
        platform::ProcessMessages();
        const bool stop = stopRequested_ && stopRequested_();
        lock.lock();
        if (!shared->busy) return true;
        if (stop || Clock::now() >= deadline()) {
            shared->givenUp = true;
            shared_.reset();
            return false;
        }
    }
}
