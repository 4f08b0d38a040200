#include "archive/krv_timer.h"

#include <utility>

#include "platform/clock.h"

TkrvTimer::TkrvTimer(TickSource ticks) : ticks_(std::move(ticks)) {}

uint32_t TkrvTimer::Now() const { return ticks_ ? ticks_() : platform::TickCount(); }

void TkrvTimer::Start() {
    ElapsedSeconds = 0.0f;
    PauseTick = 0;
    pauseDepth_ = 0;
    const uint32_t now = Now();
    StartTick = now != 0 ? now : 1;  // 0 would read as idle
}

void TkrvTimer::Pause() {
    if (!Running()) return;
    if (pauseDepth_++ == 0) PauseTick = Now();
}

void TkrvTimer::Resume() {
    if (!Running() || pauseDepth_ == 0) return;
    if (--pauseDepth_ == 0) {
        StartTick += Now() - PauseTick;  // modulo 2^32
        if (StartTick == 0) StartTick = 1;
        PauseTick = 0;
    }
}

void TkrvTimer::Stop() {
    if (!Running()) return;
    const uint32_t now = Now();
    StopTick = now;
    ElapsedSeconds = static_cast<float>(static_cast<uint32_t>(now - StartTick)) / 1000.0f;
    StartTick = 0;
    pauseDepth_ = 0;
    PauseTick = 0;
}
