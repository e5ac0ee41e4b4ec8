// Texts of the tool's console output: sizes, rates and the progress line.
#pragma once

#include <cstdint>
#include <string>

namespace wget {

// "100K", "1.5M", "2.0G" (powers of 1024), bytes below 1024 as a plain number.
std::string HumanSize(std::int64_t bytes);

// "409 MB/s", "12.3 KB/s", "5.00 B/s"; precision falls as the number grows.
std::string HumanRate(double bytesPerSecond);

// Duration as "3s", "1m 5s", "2h 1m".
std::string HumanDuration(double seconds);

struct ProgressState {
    std::int64_t held = 0;       // bytes already on disk before this try
    std::int64_t received = 0;   // bytes received in this try
    std::int64_t total = -1;     // whole document size, -1 when unknown
    double seconds = 0;          // time since this try began
};

// One console line of width columns at most:
// "name           37%[=====>          ]  38.00M  12.3MB/s  剩余 3s"
std::string ProgressBar(const std::string& name, const ProgressState& state, int columns);

// A line for a log (output not on a console), written every few percent:
// "  51200K   5%  120 MB/s"
std::string ProgressLogLine(const ProgressState& state);

// Columns UTF-8 text takes on a console: CJK characters take two.
int DisplayColumns(const std::string& text);

// Percentage of the document held so far, 0..100; -1 when the size is unknown.
int Percent(const ProgressState& state);

}  // namespace wget
