// The pumping wait on its own: it returns when the handle is signalled, the
// window's timers ticking meanwhile, and never waits on what cannot be
// waited on.
#include <doctest/doctest.h>

#include <windows.h>

#include "platform/pump_wait_win32.h"
#include "wizard/ui.h"
#include "win_test_util.h"

using namespace wintest;

namespace {

struct SetAfter {
    HANDLE event;
    int ticks;
};

// The pump handed to the wait: the window's, counted.
int gPumps = 0;
void CountingPump() noexcept
{
    ++gPumps;
    PumpEvents();
}

// Sets the event from inside the wait, once the window has ticked enough.
void SetEventLate(TickingWindow& window)
{
    const auto* plan = static_cast<const SetAfter*>(window.context);
    if (window.ticks() == plan->ticks) ::SetEvent(plan->event);
}

}  // namespace

TEST_CASE("WaitPumpingEvents returns true once the handle is signalled, events flowing meanwhile")
{
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    REQUIRE(event);
    TickingWindow window(50);
    REQUIRE(window.ok());
    SetAfter plan{event, 10};
    window.context = &plan;
    window.onTick = &SetEventLate;

    Stopwatch clock;
    gPumps = 0;
    CHECK(WaitPumpingEvents(event, CountingPump));
    CHECK(gPumps >= 10);  // the wait ran the pump it was given
    // Only the window's own timer sets the event: had the wait not pumped,
    // it would never have ended.
    CHECK(window.ticks() >= 10);
    CHECK(clock.Seconds() >= 0.4);
    CHECK(clock.Seconds() < 10.0);

    // Already signalled: back at once.
    window.onTick = nullptr;
    Stopwatch again;
    CHECK(WaitPumpingEvents(event, PumpEvents));
    CHECK(again.Seconds() < 1.0);
    ::CloseHandle(event);
}

TEST_CASE("WaitPumpingEvents answers false at once for a handle it cannot wait on")
{
    // A process handle without the right to wait, and no handle at all.
    const HANDLE noSync =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ::GetCurrentProcessId());
    REQUIRE(noSync);
    for (const HANDLE handle : {noSync, HANDLE{nullptr}}) {
        Stopwatch clock;
        CHECK_FALSE(WaitPumpingEvents(handle, PumpEvents));
        CHECK(clock.Seconds() < 1.0);
    }
    ::CloseHandle(noSync);
}
