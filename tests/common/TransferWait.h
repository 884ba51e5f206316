#pragma once
// Waits for a condition while the event loop runs freely. QTest::qWaitFor sleeps 10 ms between
// rounds of events, which would set the pace of a transfer instead of its own timer.

#include <functional>

// Runs the event loop until `done` holds or `timeoutMs` passed; true when it holds.
bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs);
