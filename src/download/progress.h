#pragma once

#include <cstdint>
#include <string>

// Rounds to the nearest whole number, halves to the even neighbour.
double RoundHalfEven(double value);
// Rounds to the given number of decimal places, halves to even.
double RoundHalfEven(double value, int decimals);
// Shortest decimal form: no thousands separators, no trailing zeros, no
// point for whole values, at most 15 significant digits ("17.6", "100").
std::string FormatNumber(double value);

// "1000K/S", "1.5M/S" for a speed in KB/s.
std::string SpeedText(int64_t kilobytesPerSecond);
// "已下载 17.6%"
std::string PercentText(int64_t currentSize, int64_t totalSize);
// Package size in whole MiB.
std::string SizeMegabytesText(int64_t totalSize);

// True when the package on disk has grown past the size the host announced
// (announced 0: no size was given, and nothing is judged).
bool GrewPastAnnouncedSize(int64_t currentSize, int64_t announcedSize);
