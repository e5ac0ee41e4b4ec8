// Why an installation failed, and what the operator should do next: decided
// from what the run kept (the .NET 3.5 enabling, setup's exit code, the
// service's state) and what setup's summary says. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/service.h"
#include "setup/setup_summary.h"

// What the run kept for the report.
struct InstallEvidence {
    bool netFxBatchRan = false;           // the DISM batch was written and run
    bool netFxPresent = false;            // .NET Framework 3.5 there afterwards
    int64_t setupStarted = 0;             // file clock just before setup was started
    std::optional<int32_t> setupExitCode; // nothing: setup could not be started
};

enum class SummaryStatus {
    None,        // no summary of this run
    Read,        // read and recognised
    Unreadable,  // there, but empty, unreadable or no summary of setup's
};

// Everything the decision looks at.
struct FailureEvidence {
    InstallEvidence install;
    ServiceState service = ServiceState::Unknown;
    SummaryStatus summaryStatus = SummaryStatus::None;
    std::string summaryPath;
    SummaryFindings summary;
    std::string sqlVersionCode;  // the chosen edition's code ("2012x64" ...)
    std::string installDir;      // InstallState::InstallDir
};

enum class FailureCause {
    InstalledButNoConnection,  // setup reports it installed: the password must not be lost
    RestartPending,
    NetFx35Missing,
    InstanceExists,
    ServiceNotStarted,
    CouldNotStart,
    UnsupportedSystem,
    Other,
};

struct FailureReport {
    FailureCause cause = FailureCause::Other;
    std::string text;          // the cause and what to do, in Chinese
    std::string summaryPath;   // the summary to show and open; empty: none
    bool showPassword = false; // setup reports installed: the sa password goes in the box
};

// One cause from the evidence, never a guess: where the evidence names none
// of the known ones, setup's own words and code.
FailureReport DecideFailureCause(const FailureEvidence& evidence);

// The failure box: the apology as it always stood, a blank line, the cause,
// the summary's full path; with the password where setup reports installed.
std::string ComposeFailureMessage(const FailureReport& report, const std::string& saPassword);

inline constexpr char kInstallFailedMessage[] = "非常抱歉，数据库安装失败，请重试！";

// Setup's exit codes the causes rest on.
inline constexpr int32_t kExitRestartRequired = 3010;
// 0x84B30002: "No features were installed during the setup execution".
inline constexpr int32_t kExitNoFeaturesInstalled = -2068643838;
// 0x851A001A: "Wait on the Database Engine recovery handle failed".
inline constexpr int32_t kExitEngineRecoveryWait = -2061893606;

// Gathers the evidence after a failed verification: the run's own, the
// service's state, and the summary of this run that setup left (found,
// read and parsed through setup/setup_log.h).
FailureEvidence CollectFailureEvidence(const InstallEvidence& install, ServiceState service,
                                       const std::string& sqlVersionCode, const std::string& installDir);
