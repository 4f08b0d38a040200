#pragma once

#include <cstdint>
#include <functional>

// Measures one extraction run in seconds, leaving out the time spent paused
// (in error handlers, prompts and directory walks). Pauses nest: only the
// outermost pause and resume count, so a report inside a paused prompt does
// not count the same stretch twice.
class TkrvTimer {
public:
    using TickSource = std::function<uint32_t()>;

    // Ticks in milliseconds; the platform's tick count unless a test gives its own.
    explicit TkrvTimer(TickSource ticks = {});

    void Start();
    void Pause();
    void Resume();
    void Stop();
    bool Running() const { return StartTick != 0; }

    uint32_t StartTick = 0;  // 0 means idle
    uint32_t StopTick = 0;
    uint32_t PauseTick = 0;
    float ElapsedSeconds = 0.0f;

private:
    uint32_t Now() const;

    TickSource ticks_;
    int pauseDepth_ = 0;
};

// Pauses a timer for the lifetime of the guard.
class TimerPause {
public:
    explicit TimerPause(TkrvTimer& timer) : timer_(timer) { timer_.Pause(); }
    ~TimerPause() { timer_.Resume(); }
    TimerPause(const TimerPause&) = delete;
    TimerPause& operator=(const TimerPause&) = delete;

private:
    TkrvTimer& timer_;
};
