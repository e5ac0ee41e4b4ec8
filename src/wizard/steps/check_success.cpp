// Step 5: a test connection proves the installation; on success the
// password is shown and left in the notes file on the desktop.
#include "platform/fs.h"
#include "platform/service.h"
#include "platform/strings.h"
#include "setup/failure_cause.h"
#include "setup/notes.h"
#include "setup/verify.h"
#include "stackhold_config.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

void Main::CheckSuccess()
{
    Step5_Img.picture = Image_OK2.picture;
    About1.text = "正在检测结果";
    About2.text = "";
    state.CurrentStep = 5;
    RefreshWindow();

    // Only the instance's own service may answer: any local program can
    // listen on its port or pipe before it, so without the service running
    // the connection is not even tried.
    const ServiceState service = QueryServiceState(kSqlServiceName);
    if (service != ServiceState::Running || !TestSqlConnection()) {
        About1.text = "数据库安装失败";
        About1.color = kFailRed;
        About2.text = "非常抱歉，数据库安装失败，请重试";
        const FailureReport report = DecideFailureCause(
            CollectFailureEvidence(installEvidence_, service, state.ChosenEdition->code, state.InstallDir));
        ShowMessage(ComposeFailureMessage(report, state.SaPassword));
        // Setup's summary opens as the notes file would, once the box is read.
        if (!report.summaryPath.empty()) OpenInstallationNotes(report.summaryPath);
        EndProcess(1);
    }

    state.Verified = true;
    Step5_Name.color = kStepDone;
    About1.text = "数据库安装成功！";
    About1.color = kWhite;
    About1.bold = true;
    About2.text = "恭喜，数据库安装成功，SA密码：" + state.SaPassword;
    SetWindowTopmost();
    const std::string notesPath = WriteInstallationNotes();
    DeleteFileIfExists(packagePath());
    // Notepad only on the file just written: never on an old notes file
    // with an earlier password while the window shows the new one.
    if (!notesPath.empty()) OpenInstallationNotes(notesPath);
}

std::string Main::WriteInstallationNotes()
{
    // The password goes only into the administrator's own desktop folder:
    // without one the path would fall to a drive root that every user of
    // the server can read. The window shows the password in any case.
    const std::string desktop = GetDesktopFolder();
    if (desktop.empty()) return {};
    const std::string path = JoinPath(desktop, kNotesFileName);
    const std::string text = ComposeInstallationNotes({state.ChosenEdition->item, state.InstanceName, state.SaPassword,
                                                       state.InstallDir, STACKHOLD_SITE_URL, LocalDateTimeText()});
    // The notes are ANSI as every file this program writes; where the
    // system code page cannot hold their Chinese, ANSI would turn it into
    // question marks, so they go out as UTF-8 with a byte-order mark.
    const bool written = TextFitsAnsiCodePage(text) ? WriteTextFile(path, text) : WriteUtf8TextFile(path, text);
    return written ? path : std::string();
}
