#include "progress.h"

#include <algorithm>
#include <cstdio>

namespace wget {
namespace {

std::string Format(const char* fmt, double value, const char* unit)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value, unit);
    return buf;
}

double Rate(const ProgressState& s) { return s.seconds > 0 ? s.received / s.seconds : 0; }

}  // namespace

int DisplayColumns(const std::string& text)
{
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += len >= 3 ? 2 : 1;
        i += len;
    }
    return width;
}

namespace {

// The first characters of text that fit in width columns.
std::string Fit(const std::string& text, int width)
{
    std::string out;
    int used = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        const int w = len >= 3 ? 2 : 1;
        if (used + w > width) break;
        out.append(text, i, len);
        used += w;
        i += len;
    }
    return out + std::string(static_cast<std::size_t>(std::max(0, width - used)), ' ');
}

}  // namespace

std::string HumanSize(std::int64_t bytes)
{
    static const char* const kUnits[] = {"K", "M", "G", "T", "P"};
    if (bytes < 1024) return std::to_string(bytes);
    double v = static_cast<double>(bytes);
    int unit = -1;
    while (v >= 1024 && unit < 4) {
        v /= 1024;
        ++unit;
    }
    return Format(v < 10 ? "%.1f%s" : "%.0f%s", v, kUnits[unit]);
}

std::string HumanRate(double bytesPerSecond)
{
    static const char* const kUnits[] = {"B/s", "KB/s", "MB/s", "GB/s"};
    double v = bytesPerSecond;
    int unit = 0;
    while (v >= 1024 && unit < 3) {
        v /= 1024;
        ++unit;
    }
    const char* fmt = v >= 99.95 ? "%.0f %s" : v >= 9.995 ? "%.1f %s" : "%.2f %s";
    return Format(fmt, v, kUnits[unit]);
}

std::string HumanDuration(double seconds)
{
    const long long s = static_cast<long long>(seconds + 0.5);
    char buf[48];
    if (s < 60) std::snprintf(buf, sizeof buf, "%llds", s);
    else if (s < 3600) std::snprintf(buf, sizeof buf, "%lldm %llds", s / 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%lldh %lldm", s / 3600, (s % 3600) / 60);
    return buf;
}

int Percent(const ProgressState& s)
{
    if (s.total <= 0) return s.total == 0 ? 100 : -1;
    const std::int64_t have = std::min(s.held + s.received, s.total);
    return static_cast<int>(have * 100.0 / static_cast<double>(s.total));
}

std::string ProgressBar(const std::string& name, const ProgressState& s, int columns)
{
    columns = std::max(columns, 40);
    const int percent = Percent(s);
    const double rate = Rate(s);
    // Fixed-width fields, so that the bar keeps its length while it is redrawn.
    char tail[96];
    std::snprintf(tail, sizeof tail, "  %6s  %10s", HumanSize(s.held + s.received).c_str(),
                  HumanRate(rate).c_str());
    std::string text = tail;
    if (s.total > 0 && rate > 0) {
        const double left = static_cast<double>(s.total - s.held - s.received) / rate;
        std::snprintf(tail, sizeof tail, "  剩余 %-7s", HumanDuration(std::max(0.0, left)).c_str());
        text += tail;
    } else {
        text += std::string(14, ' ');
    }
    const std::string shortName = name.substr(name.find_last_of("\\/") + 1);
    const int nameWidth = std::min(20, columns / 4);
    const int barWidth = std::max(10, columns - 1 - nameWidth - 5 - 2 - DisplayColumns(text));
    std::string bar(static_cast<std::size_t>(barWidth), ' ');
    if (percent >= 0) {
        const int done = barWidth * percent / 100;
        std::fill(bar.begin(), bar.begin() + done, '=');
        if (done < barWidth) bar[static_cast<std::size_t>(done)] = '>';
    } else {
        // Unknown size: a marker that moves with the bytes.
        const int at = static_cast<int>(((s.held + s.received) / (256 * 1024)) % barWidth);
        bar[static_cast<std::size_t>(at)] = '*';
    }
    char pct[8] = "     ";
    if (percent >= 0) std::snprintf(pct, sizeof pct, "%4d%%", percent);
    return Fit(Fit(shortName, nameWidth) + pct + "[" + bar + "]" + text, columns - 1);
}

std::string ProgressLogLine(const ProgressState& s)
{
    char buf[96];
    const long long kib = static_cast<long long>((s.held + s.received) / 1024);
    const int percent = Percent(s);
    if (percent >= 0)
        std::snprintf(buf, sizeof buf, "%10lldK %3d%%  %s", kib, percent, HumanRate(Rate(s)).c_str());
    else
        std::snprintf(buf, sizeof buf, "%10lldK  %s", kib, HumanRate(Rate(s)).c_str());
    return buf;
}

}  // namespace wget
