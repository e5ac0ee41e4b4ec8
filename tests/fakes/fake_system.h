// The platform procedures faked for the native tests: a scriptable machine
// that records, in order, what the window logic asked of it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "envcheck/program_folder.h"
#include "platform/fs.h"
#include "platform/service.h"
#include "setup/setup_summary.h"

// What EndProcess throws in the tests, so a test can see that the process
// would have ended and that nothing ran after it.
struct ProcessEnded {
    int exitCode;
};

struct FakeSystem {
    // The record of calls, e.g. "msg:…", "end:1", "run:…", "ensure:D:\".
    std::vector<std::string> log;

    // Machine.
    std::string windowsVersion = "6.1";
    std::vector<uint16_t> tcpPorts;            // as GetTcpLocalPorts gives it
    std::set<std::string> services;            // key names, compared upper-case
    std::map<std::string, int64_t> freeMiB;    // "C:" (upper) → MiB; missing drive → 0
    std::set<std::string> folders;             // existing folders, with a closing backslash for roots
    std::set<std::string> failingFolders;      // EnsureFolder refuses these
    std::map<std::string, int64_t> fileSizes;  // existing files
    std::map<std::string, std::string> written;  // last text written per path ("ansi:" or "utf8:" prefixed)
    std::set<std::string> failingWrites;         // WriteTextFile/WriteFreshTextFile fail on these
    std::set<std::string> undeletable;           // DeleteFileIfExists cannot remove these
    std::set<std::string> unholdable;            // HoldFileForRun refuses these (a link, a writer)
    std::map<std::uintptr_t, std::string> held;  // files and folders held open: token → path
    std::map<std::string, FolderFault> folderFaults;  // HoldTrustedFolder refuses these (path without "\\")
    std::set<std::string> protectedFolders;           // made or given the protected DACL by HoldTrustedFolder
    std::map<std::string, ObjectTrust> objectTrust;   // JudgeObjectTrust; missing → safe
    std::string programFileName = "Stackhold.exe";
    bool ansiFits = true;
    bool randomWorks = true;
    int64_t clock = 1000;
    std::string desktop = "C:\\Users\\Operator\\Desktop";
    std::string dateTime = "2026/12/10 9:30:05";

    // Network.
    std::map<std::string, std::string> httpBodies;  // url → body; missing → empty
    std::map<std::string, int64_t> remoteSizes;     // url → Content-Length; missing → 0
    // Called while GetRemoteFileSize waits (the window's events flow then).
    std::function<void(const std::string&)> onHead;

    // Outside programs: called for each RunAndWait with the command line and
    // for each RunBatchAndWait with the batch file.
    std::function<void(const std::string&)> onRun;
    bool sqlConnects = true;
    bool signatureValid = true;
    // Exit codes LastExitCode gives after RunAndWait / RunBatchAndWait
    // (nothing: the program could not be started); onRun may change them.
    std::optional<int32_t> runExitCode = 0;
    std::optional<int32_t> batchExitCode = 0;
    std::optional<int32_t> lastExitCode;
    ServiceState sqlService = ServiceState::Running;  // QueryServiceState of any name
    bool netFxPresent = true;
    std::string systemFolder = "C:\\Windows\\System32";
    int64_t fileClock = 500;                      // FileClockNow
    std::vector<SummaryFile> summaries;           // ListSetupSummaries
    std::map<std::string, std::string> summaryTexts;  // path → decoded text; missing: unreadable

    // Operator.
    std::string browseResult;
    bool answerYes = false;

    void Reset();
    bool Logged(const std::string& entry) const;
    // The entries that start with prefix, in order.
    std::vector<std::string> Entries(const std::string& prefix) const;
};

extern FakeSystem fake;
