// Step 3: the package address from the service, the download through the
// tool, its progress, and the checks of what arrived.
#include "download/address.h"
#include "download/http.h"
#include "download/kill.h"
#include "download/progress.h"
#include "download/signature.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/runner.h"
#include "stackhold_config.h"
#include "wizard/editions.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

namespace {
constexpr char kAddressFailed[] = "非常抱歉，下载地址获取错误，请重试。";
constexpr char kPackageWrong[] = "非常抱歉，安装包错误，请重新下载。";
constexpr char kToolName[] = "wget.exe";
}  // namespace

void Main::DownLoadSQLFile()
{
    Step3_Img.picture = Image_OK.picture;
    About1.text = "正在下载文件";
    About2.text = std::string("数据库版本：") + state.ChosenEdition->item;
    state.CurrentStep = 3;
    RefreshWindow();

    // The tool writes the package and setup later runs it as administrator;
    // the close mark may delete it while the size request waits. So the
    // folder is out of other users' reach, and held, before anything is
    // asked, written or deleted there.
    packageFolder_ = EnsureProtectedFolder(state.PackageDir);
    if (!packageFolder_) failAndEnd(kPackageWrong);

    const Edition& edition = *state.ChosenEdition;
    const std::string address = QueryDownloadAddress(edition.version, edition.x64);
    if (!IsUsablePackageAddress(address)) failAndEnd(kAddressFailed);
    // The name comes from the network: it must name a file inside the
    // package directory, nothing above or beside it, before anything uses it.
    const std::string fileName = PackageFileNameFrom(address);
    if (!IsUsablePackageFileName(fileName)) failAndEnd(kAddressFailed);
    state.PackageFileName = fileName;
    state.RemotePackageSize = GetRemoteFileSize(address, PumpEvents);

    if (GetLocalFileSize(packagePath()) != state.RemotePackageSize) {
        Timer2.enabled = true;
        RunAndWait(WgetCommandLine(state.ProgramDir, state.PackageDir, address), PumpEvents);
        Timer2.enabled = false;
        ClearTaskbarProgress();
    }
    const int64_t localSize = GetLocalFileSize(packagePath());
    if (localSize != state.RemotePackageSize) {
        // A shorter file stays for the tool to continue next time; a longer
        // one can never become the package (the tool's range request draws
        // a 416 every time) and goes, so the next run fetches it anew.
        if (GrewPastAnnouncedSize(localSize, state.RemotePackageSize))
            DeleteFileInHeldFolder(packageFolder_, state.PackageFileName);
        failAndEnd(kPackageWrong);
    }

    // The package runs with administrator rights and its address may be
    // plain http: only a package signed by the expected publisher may run.
    // It is judged through the handle that then stays open, sharing read
    // only, until setup has been started from it, so nobody can change it
    // in between. A wrong one is removed so the next run fetches it anew.
    package_ = HoldFileForRun(packagePath());
    if (!VerifyPackageSignature(package_, packagePath(), STACKHOLD_PUBLISHER)) {
        package_.reset();
        DeleteFileInHeldFolder(packageFolder_, state.PackageFileName);
        failAndEnd(kPackageWrong);
    }

    Step3_Name.color = kStepDone;
    About1.text = "文件下载完成";
    Install();
}

void Main::Timer2_Timer()
{
    const int64_t currentSize = GetLocalFileSize(packagePath());
    // A host that sends more than it announced would have the tool write
    // until the disk is full: our own tool is stopped, the wait ends, and
    // the size check refuses the file and removes it. Nothing past the
    // whole is shown.
    if (GrewPastAnnouncedSize(currentSize, state.RemotePackageSize))
        return KillProcessByName(kToolName, state.ProgramDir);
    if (currentSize == state.LastSampleSize) return;

    const int64_t now = LocalClockSeconds();
    int64_t speed = 0;
    if (state.LastSampleTime != 0) {
        const int64_t elapsed = now - state.LastSampleTime;
        if (elapsed == 0) {
            // Two changes within one clock second: take the sample over quietly.
            state.LastSampleSize = currentSize;
            state.LastSampleTime = now;
            return;
        }
        speed = static_cast<int64_t>(
            RoundHalfEven(static_cast<double>(currentSize - state.LastSampleSize) / 1024.0 /
                          static_cast<double>(elapsed)));
    }

    if (state.RemotePackageSize != 0) {
        About1.text = PercentText(currentSize, state.RemotePackageSize);
        SetTaskbarProgress(currentSize, state.RemotePackageSize);
    }
    About2.text = std::string("版本：") + state.ChosenEdition->item + "，文件大小：" + SizeMegabytesText(state.RemotePackageSize) +
                  "M，下载速度：" + SpeedText(speed);
    state.LastSampleSize = currentSize;
    state.LastSampleTime = now;
}
