// What SQL Server setup leaves in its summary log (Summary.txt), read as
// plain text: the overall result, the exit code and message, the rules that
// failed, and the log folder of the run. Portable: the caller finds and
// reads the file (setup/setup_log.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SummaryFindings {
    bool recognised = false;           // the text has setup's overall summary at all
    std::string finalResult;           // "Passed", "Failed: see details below", ...
    bool passed = false;               // the final result reads "Passed" (with or without a restart)
    bool restartRequested = false;     // passed, but setup asks for a restart
    std::optional<int32_t> exitCode;   // "Exit code (Decimal)"
    std::string exitMessage;           // "Exit message", as setup wrote it
    std::vector<std::string> failedRules;  // rule identifiers such as RebootRequiredCheck
    std::string logFolder;             // the run's folder under Setup Bootstrap\Log
};

// The findings of a summary's text (UTF-8). Labels are setup's English ones;
// the exit code, the rule identifiers and "Passed" do not depend on the
// package's language.
SummaryFindings ParseSetupSummary(std::string_view text);

// A summary file's bytes as UTF-8: UTF-16LE with its byte-order mark, UTF-8
// with or without one, otherwise the system's ANSI code page through
// fromAnsi. Empty for bytes that are no text of any of these.
std::string DecodeSummaryBytes(std::string_view bytes, std::string (*fromAnsi)(std::string_view));

// One summary file found under Setup Bootstrap\Log.
struct SummaryFile {
    std::string path;
    int64_t lastWrite = 0;  // the clock of setup/setup_log.h
    bool topLevel = false;  // Log\Summary.txt rather than one in a run's folder
};

// The summary of this run: only files written at or after notBefore (when
// setup started) count; of those the top-level Summary.txt, which setup
// writes last, else the newest. Nothing when none is recent enough.
std::optional<SummaryFile> PickSetupSummary(const std::vector<SummaryFile>& files, int64_t notBefore);
