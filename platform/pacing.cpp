#include "pacing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace arbel {
namespace {

std::atomic<Pacing::Mode> g_mode{Pacing::Mode::Designed};

// The condition variable only carries wake-ups; no shared state is guarded by it
// beyond the generation counter.
std::mutex g_wakeMutex;
std::condition_variable g_wakeCondition;
unsigned long g_generation = 0;

void waitFor(std::chrono::duration<double> duration) {
    if (duration.count() <= 0) return;
    std::unique_lock<std::mutex> lock(g_wakeMutex);
    const unsigned long start = g_generation;
    g_wakeCondition.wait_for(lock, duration, [start] { return g_generation != start; });
}

}  // namespace

void Pacing::setMode(Mode mode) { g_mode.store(mode, std::memory_order_relaxed); }

Pacing::Mode Pacing::mode() { return g_mode.load(std::memory_order_relaxed); }

double Pacing::scaled(double seconds) { return mode() == Mode::Designed ? seconds : 0.0; }

void Pacing::wait(double seconds) { waitFor(std::chrono::duration<double>(scaled(seconds))); }

void Pacing::pauseSleep() {
    waitFor(std::chrono::duration<double>(mode() == Mode::Designed ? 1.0 : 0.005));
}

void Pacing::wake() {
    {
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        ++g_generation;
    }
    g_wakeCondition.notify_all();
}

}  // namespace arbel
