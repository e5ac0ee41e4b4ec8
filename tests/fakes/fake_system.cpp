#include "fakes/fake_system.h"

#include <algorithm>
#include <random>

#include "download/http.h"
#include "download/kill.h"
#include "download/signature.h"
#include "envcheck/tcp.h"
#include "envcheck/version.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/program_dir.h"
#include "platform/random.h"
#include "platform/runner.h"
#include "platform/service.h"
#include "platform/strings.h"
#include "settings/browse.h"
#include "setup/netfx.h"
#include "setup/notes.h"
#include "setup/setup_log.h"
#include "setup/verify.h"
#include "wizard/ui.h"

FakeSystem fake;

void FakeSystem::Reset() { *this = FakeSystem{}; }

bool FakeSystem::Logged(const std::string& entry) const
{
    return std::find(log.begin(), log.end(), entry) != log.end();
}

std::vector<std::string> FakeSystem::Entries(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const std::string& e : log) {
        if (e.starts_with(prefix)) out.push_back(e);
    }
    return out;
}

namespace {
std::string Upper(std::string s)
{
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}
}  // namespace

// File system.
namespace {
HeldFile FakeHold(const std::string& path)
{
    static std::uintptr_t next = 0;
    fake.held[++next] = path;
    return HeldFile(next);
}
}  // namespace

void ReleaseHeldFile(std::uintptr_t token) noexcept
{
    const auto it = fake.held.find(token);
    if (it == fake.held.end()) return;
    fake.log.push_back("release:" + it->second);
    fake.held.erase(it);
}
bool DeleteFileIfExists(const std::string& path) noexcept
{
    fake.log.push_back("delete:" + path);
    if (fake.fileSizes.count(path) && fake.undeletable.count(path)) return false;
    fake.fileSizes.erase(path);
    return true;
}
bool FileExists(const std::string& path) noexcept { return fake.fileSizes.count(path) > 0; }
bool FolderExists(const std::string& path) noexcept { return fake.folders.count(path) > 0; }
bool EnsureFolder(const std::string& path) noexcept
{
    fake.log.push_back("ensure:" + path);
    if (fake.folders.count(path)) return true;
    if (fake.failingFolders.count(path)) return false;
    fake.folders.insert(path);
    return true;
}
bool WriteTextFile(const std::string& path, const std::string& text) noexcept
{
    fake.log.push_back("write:" + path);
    if (fake.failingWrites.count(path)) return false;
    fake.written[path] = "ansi:" + text;
    fake.fileSizes[path] = static_cast<int64_t>(text.size());
    return true;
}
bool WriteUtf8TextFile(const std::string& path, const std::string& text) noexcept
{
    fake.log.push_back("write-utf8:" + path);
    if (fake.failingWrites.count(path)) return false;
    fake.written[path] = "utf8:" + text;
    fake.fileSizes[path] = static_cast<int64_t>(text.size()) + 3;
    return true;
}
HeldFile EnsureProtectedFolder(const std::string& path) noexcept
{
    fake.log.push_back("protect:" + path);
    if (fake.failingFolders.count(path)) return {};
    fake.folders.insert(path);
    return FakeHold(path);
}
bool DeleteFileInHeldFolder(const HeldFile& folder, const std::string& name) noexcept
{
    // Only through a folder that is held, and only a plain name inside it.
    const auto it = fake.held.find(folder.token());
    if (!folder || it == fake.held.end() || name.empty() || name.find_first_of("\\/:") != std::string::npos) {
        fake.log.push_back("delete-unheld:" + name);
        return false;
    }
    const std::string path = it->second + "\\" + name;
    fake.log.push_back("delete:" + path);
    if (fake.fileSizes.count(path) && fake.undeletable.count(path)) return false;
    fake.fileSizes.erase(path);
    return true;
}
TrustedFolder HoldTrustedFolder(const std::string& path, bool own) noexcept
{
    fake.log.push_back((own ? "claim-own:" : "claim:") + path);
    TrustedFolder result;
    const auto fault = fake.folderFaults.find(path);
    if (fault != fake.folderFaults.end()) {
        result.fault = fault->second;
        return result;
    }
    const std::string key = path + "\\";
    if (!fake.folders.count(key)) {
        if (fake.failingFolders.count(key)) {
            result.fault = FolderFault::NotCreated;
            return result;
        }
        fake.folders.insert(key);
        fake.protectedFolders.insert(path);  // made with the protected DACL
    } else if (own) {
        fake.protectedFolders.insert(path);  // given it on itself
    }
    result.hold = FakeHold(path);
    return result;
}
HeldFile HoldFolder(const std::string& path) noexcept
{
    fake.log.push_back("hold-folder:" + path);
    if (fake.unholdable.count(path)) return {};
    return FakeHold(path);
}
HeldFile HoldFileForRun(const std::string& path) noexcept
{
    fake.log.push_back("hold:" + path);
    if (!fake.fileSizes.count(path) || fake.unholdable.count(path)) return {};
    return FakeHold(path);
}
HeldFile WriteFreshTextFile(const std::string& path, const std::string& text) noexcept
{
    fake.log.push_back("write-fresh:" + path);
    if (fake.fileSizes.count(path) || fake.failingWrites.count(path)) return {};
    fake.written[path] = "ansi:" + text;
    fake.fileSizes[path] = static_cast<int64_t>(text.size());
    return FakeHold(path);
}
bool TextFitsAnsiCodePage(const std::string&) noexcept { return fake.ansiFits; }
int64_t GetDriveFreeSpace(const std::string& drive) noexcept
{
    const auto it = fake.freeMiB.find(Upper(drive));
    return it == fake.freeMiB.end() ? 0 : it->second;
}
int64_t GetLocalFileSize(const std::string& path) noexcept
{
    const auto it = fake.fileSizes.find(path);
    return it == fake.fileSizes.end() ? -1 : it->second;
}

// Probes.
ObjectTrust JudgeObjectTrust(const std::string& path) noexcept
{
    fake.log.push_back("judge:" + path);
    const auto it = fake.objectTrust.find(path);
    if (it != fake.objectTrust.end()) return it->second;
    ObjectTrust safe;
    safe.judged = safe.ownerTrusted = true;
    return safe;
}
std::string ProgramFileName() noexcept { return fake.programFileName; }
bool ServiceExists(const std::string& name) noexcept { return fake.services.count(Upper(name)) > 0; }
std::string GetWindowsVersion() noexcept { return fake.windowsVersion; }
std::vector<uint16_t> GetTcpLocalPorts() noexcept { return fake.tcpPorts; }
bool FillRandomBytes(void* buffer, std::size_t size) noexcept
{
    if (!fake.randomWorks) return false;
    static std::random_device device;
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(device());
    return true;
}

// Network and outside programs.
std::string HttpGet(const std::string& url) noexcept
{
    fake.log.push_back("http:" + url);
    const auto it = fake.httpBodies.find(url);
    return it == fake.httpBodies.end() ? std::string() : it->second;
}
int64_t GetRemoteFileSize(const std::string& url, EventPump) noexcept
{
    fake.log.push_back("head:" + url);
    if (fake.onHead) fake.onHead(url);
    const auto it = fake.remoteSizes.find(url);
    return it == fake.remoteSizes.end() ? 0 : it->second;
}
void KillProcessByName(const std::string& name, const std::string& folder) noexcept
{
    fake.log.push_back("kill:" + name + " in " + folder);
}
bool VerifyPackageSignature(const std::string& path, const std::string& publisher) noexcept
{
    fake.log.push_back("verify-by-path:" + path + "|" + publisher);
    return fake.signatureValid;
}
bool VerifyPackageSignature(const HeldFile& file, const std::string& path,
                            const std::string& publisher) noexcept
{
    if (!file) return false;
    // The check must read the held file of that very path.
    const auto it = fake.held.find(file.token());
    if (it == fake.held.end() || it->second != path) {
        fake.log.push_back("verify-unheld:" + path);
        return false;
    }
    fake.log.push_back("verify:" + path + "|" + publisher);
    return fake.signatureValid;
}
void RunAndWait(const std::string& commandLine, EventPump) noexcept
{
    fake.log.push_back("run:" + commandLine);
    if (fake.onRun) fake.onRun(commandLine);
    fake.lastExitCode = fake.runExitCode;
}
void RunBatchAndWait(const std::string& batchFile, EventPump) noexcept
{
    fake.log.push_back("run-batch:" + batchFile);
    if (fake.onRun) fake.onRun(batchFile);
    fake.lastExitCode = fake.batchExitCode;
}
std::optional<int32_t> LastExitCode() noexcept { return fake.lastExitCode; }
ServiceState QueryServiceState(const std::string& name) noexcept
{
    fake.log.push_back("service-state:" + name);
    return fake.sqlService;
}
std::string NativeSystemFolder() noexcept { return fake.systemFolder; }
bool IsNetFx35Present() noexcept { return fake.netFxPresent; }
int64_t FileClockNow() noexcept { return fake.fileClock; }
std::vector<SummaryFile> ListSetupSummaries() noexcept { return fake.summaries; }
bool ReadSetupSummary(const std::string& path, std::string& text) noexcept
{
    fake.log.push_back("read-summary:" + path);
    const auto it = fake.summaryTexts.find(path);
    if (it == fake.summaryTexts.end()) return false;
    text = it->second;
    return true;
}
bool TestSqlConnection() noexcept
{
    fake.log.push_back("connect");
    return fake.sqlConnects;
}
std::string GetDesktopFolder() noexcept { return fake.desktop; }
std::string LocalDateTimeText() noexcept { return fake.dateTime; }
void OpenInstallationNotes(const std::string& path) noexcept { fake.log.push_back("notepad:" + path); }
std::string BrowseForFolder(const std::string& title) noexcept
{
    fake.log.push_back("browse:" + title);
    return fake.browseResult;
}

// Window system.
void ShowMessage(const std::string& text) noexcept { fake.log.push_back("msg:" + text); }
bool AskYesNo(const std::string& text) noexcept
{
    fake.log.push_back("ask:" + text);
    return fake.answerYes;
}
void EndProcess(int exitCode)
{
    fake.log.push_back("end:" + std::to_string(exitCode));
    throw ProcessEnded{exitCode};
}
void PumpEvents() noexcept {}
void RefreshWindow() noexcept {}
void SetWindowTopmost() noexcept { fake.log.push_back("topmost"); }
void OpenWebSite(const std::string& url) noexcept { fake.log.push_back("site:" + url); }
void* LoadHandCursor() noexcept
{
    static int handCursor;
    return &handCursor;
}
void ShowHandCursor(void* cursor) noexcept
{
    fake.log.push_back(cursor == LoadHandCursor() ? "cursor:hand" : "cursor:other");
}
void DragWindow() noexcept { fake.log.push_back("drag"); }
void SetTaskbarProgress(int64_t done, int64_t total) noexcept
{
    fake.log.push_back("taskbar:" + std::to_string(done) + "/" + std::to_string(total));
}
void ClearTaskbarProgress() noexcept { fake.log.push_back("taskbar:clear"); }
void SleepMilliseconds(int milliseconds) noexcept { fake.log.push_back("sleep:" + std::to_string(milliseconds)); }
int64_t LocalClockSeconds() noexcept { return fake.clock; }
std::string GetProgramDir() noexcept { return "C:\\Tools"; }
