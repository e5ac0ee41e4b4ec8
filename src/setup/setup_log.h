// Where SQL Server setup leaves its summary logs, and the clock their times
// are compared with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "setup/setup_summary.h"

// Now, on the clock of file times (UTC, 100 ns units).
int64_t FileClockNow() noexcept;

// Every summary under "Microsoft SQL Server\<100|110>\Setup Bootstrap\Log"
// of the native Program Files and of the 32-bit one: the top-level
// Summary.txt and the Summary_*.txt of each run's folder (YYYYMMDD_HHMMSS),
// with their last-write times. Links are not followed.
std::vector<SummaryFile> ListSetupSummaries() noexcept;

// The summary's text as UTF-8 (see DecodeSummaryBytes); false when the file
// cannot be read. An empty text is read all the same.
bool ReadSetupSummary(const std::string& path, std::string& text) noexcept;
