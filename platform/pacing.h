#pragma once

namespace arbel {

// Every fixed wait of the program goes through here: the engines' pauses
// after a status (so a person can read it), the controller's settling waits
// and the one-second sleeps of a paused engine. The desktop program keeps the
// designed durations; the command line, tests and benchmarks wait zero.
class Pacing {
public:
    enum class Mode { Designed, Zero };

    static void setMode(Mode mode);
    static Mode mode();

    // The duration a designed wait of `seconds` takes under the current mode.
    static double scaled(double seconds);

    // A fixed wait; returns early when wake() is called meanwhile.
    static void wait(double seconds);

    // One sleep of a paused worker: a second by design, a few milliseconds
    // under zero pacing. Returns at once when wake() is called (resume, stop).
    static void pauseSleep();

    // Wakes every waiting and pause-sleeping thread.
    static void wake();
};

}  // namespace arbel
