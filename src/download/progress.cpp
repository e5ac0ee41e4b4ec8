#include "download/progress.h"

#include <cmath>
#include <cstdio>

double RoundHalfEven(double value)
{
    return std::nearbyint(value);  // the default rounding mode: to nearest, ties to even
}

double RoundHalfEven(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::nearbyint(value * scale) / scale;
}

std::string FormatNumber(double value)
{
    if (value == 0) return "0";  // also for -0, which a tiny negative ratio rounds to
    char buffer[64];
    if (std::fabs(value) >= 1e15)
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    else
        std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

std::string SpeedText(int64_t kilobytesPerSecond)
{
    if (kilobytesPerSecond > 1024)
        return FormatNumber(RoundHalfEven(static_cast<double>(kilobytesPerSecond) / 1024.0, 1)) + "M/S";
    return FormatNumber(static_cast<double>(kilobytesPerSecond)) + "K/S";
}

std::string PercentText(int64_t currentSize, int64_t totalSize)
{
    const double ratio = static_cast<double>(currentSize) / static_cast<double>(totalSize);
    return "已下载 " + FormatNumber(RoundHalfEven(ratio, 3) * 100) + "%";
}

std::string SizeMegabytesText(int64_t totalSize)
{
    return FormatNumber(RoundHalfEven(static_cast<double>(totalSize) / 1024.0 / 1024.0));
}

bool GrewPastAnnouncedSize(int64_t currentSize, int64_t announcedSize)
{
    return announcedSize > 0 && currentSize > announcedSize;
}
