// Time as the steps need it: a pause, and the local clock to the second.
#pragma once

#include <cstdint>

void SleepMilliseconds(int milliseconds) noexcept;
// Local time in whole seconds on a steady scale (differences are seconds).
int64_t LocalClockSeconds() noexcept;
