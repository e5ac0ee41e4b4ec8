#include "setup/failure_cause.h"

#include <algorithm>
#include <cstdio>

#include "platform/strings.h"
#include "setup/setup_log.h"

namespace {

bool HasRule(const SummaryFindings& s, const char* rule)
{
    return std::find(s.failedRules.begin(), s.failedRules.end(), rule) != s.failedRules.end();
}

// A code as setup's summary writes it, and in hexadecimal where it is one
// of setup's own (negative) codes.
std::string CodeText(int32_t code)
{
    std::string text = std::to_string(code);
    if (code < 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
        text += std::string("，") + hex;
    }
    return text;
}

// The instance's error log, below the data root setup was given.
std::string ErrorLogPath(const FailureEvidence& e)
{
    const char* instanceFolder = e.sqlVersionCode.rfind("2008", 0) == 0 ? "MSSQL10_50.MSSQLSERVER"
                                                                         : "MSSQL11.MSSQLSERVER";
    return JoinPath(JoinPath(JoinPath(JoinPath(e.installDir, instanceFolder), "MSSQL"), "Log"), "ERRORLOG");
}

// What a Windows error code among setup's exit codes says of why it could
// not start or unpack.
std::string WhyNotUnpacked(int32_t code)
{
    switch (code) {
    case 5: return "（拒绝访问）";
    case 2:
    case 3: return "（找不到文件）";
    case 8:
    case 14: return "（内存不足）";
    case 39:
    case 112: return "（磁盘空间不足）";
    case 1223: return "（操作被取消）";
    default: return "";
    }
}

bool SetupReportsInstalled(const FailureEvidence& e)
{
    if (e.summaryStatus == SummaryStatus::Read) return e.summary.passed;
    return e.install.setupExitCode && (*e.install.setupExitCode == 0 || *e.install.setupExitCode == kExitRestartRequired);
}

bool RestartRequested(const FailureEvidence& e)
{
    return (e.summaryStatus == SummaryStatus::Read && e.summary.restartRequested) ||
           (e.install.setupExitCode && *e.install.setupExitCode == kExitRestartRequired);
}

bool InstanceAlreadyThere(const SummaryFindings& s)
{
    const std::string message = ToLowerAscii(s.exitMessage);
    return (s.exitCode && *s.exitCode == kExitNoFeaturesInstalled) ||
           Contains(message, "no features were installed") ||
           (Contains(message, "instance") && (Contains(message, "already in use") || Contains(message, "already exists")));
}

}  // namespace

FailureReport DecideFailureCause(const FailureEvidence& e)
{
    FailureReport r;
    const bool read = e.summaryStatus == SummaryStatus::Read;
    if (e.summaryStatus != SummaryStatus::None) r.summaryPath = e.summaryPath;
    const SummaryFindings& s = e.summary;
    const std::optional<int32_t> code = read && s.exitCode ? s.exitCode : e.install.setupExitCode;

    if (SetupReportsInstalled(e)) {
        r.cause = FailureCause::InstalledButNoConnection;
        r.showPassword = true;
        r.text = RestartRequested(e)
                     ? "SQL Server安装程序报告数据库已安装，但要求重启服务器，连接数据库失败。请重启服务器，然后用SA账户和下面的密码登录。"
                     : "SQL Server安装程序报告数据库已安装，但连接数据库失败。请检查数据库服务MSSQLSERVER是否已启动，然后用SA账户和下面的密码登录。";
        return r;
    }
    if (read && HasRule(s, "RebootRequiredCheck")) {
        r.cause = FailureCause::RestartPending;
        r.text = "原因：服务器有尚未完成的重启，SQL Server安装程序拒绝运行（规则RebootRequiredCheck）。请重启服务器，然后重新运行本程序。";
        return r;
    }
    if (read && (HasRule(s, "OsVersionCheck") || HasRule(s, "FacetWOW64PlatformCheck") || HasRule(s, "Wow64PlatformCheck"))) {
        r.cause = FailureCause::UnsupportedSystem;
        r.text = "原因：所选的SQL Server版本不支持本机的操作系统。请重新运行本程序，选择另一个版本。";
        return r;
    }
    if (read && InstanceAlreadyThere(s)) {
        r.cause = FailureCause::InstanceExists;
        r.text = "原因：本机已有SQL Server实例或其残留，安装程序没有安装任何功能。请在“程序和功能”中卸载它（或用SQL Server安装程序卸载），然后重新运行本程序。";
        return r;
    }
    if (!e.install.netFxBatchRan || !e.install.netFxPresent) {
        r.cause = FailureCause::NetFx35Missing;
        r.text = "原因：无法启用.NET Framework 3.5。请先添加该功能并指定来源（Windows Server 2012及以上：Windows安装光盘或镜像中的sources\\sxs文件夹，或Windows更新），然后重新运行本程序。";
        return r;
    }
    if (e.service == ServiceState::Stopped || (code && *code == kExitEngineRecoveryWait)) {
        r.cause = FailureCause::ServiceNotStarted;
        r.text = "原因：数据库服务MSSQLSERVER已安装，但没有启动。请查看下面的安装摘要和该实例的错误日志" + ErrorLogPath(e) +
                 "，排除其中所说的问题后重新运行本程序。";
        return r;
    }
    if (e.summaryStatus == SummaryStatus::None) {
        r.cause = FailureCause::CouldNotStart;
        if (!e.install.setupExitCode) {
            r.text = "原因：SQL Server安装程序未能启动。安装包已保留，下次运行时直接使用；请重新运行本程序。";
        } else {
            r.text = "原因：SQL Server安装程序未能启动或解压（退出代码" + CodeText(*e.install.setupExitCode) + "）" +
                     WhyNotUnpacked(*e.install.setupExitCode) +
                     "。安装包已保留，下次运行时直接使用；请检查C盘剩余空间后重新运行本程序。";
        }
        return r;
    }
    r.cause = FailureCause::Other;
    if (!read) {
        r.text = "原因：无法读取SQL Server安装程序的摘要日志，请打开下面的文件查看。";
        if (e.install.setupExitCode) r.text += "安装程序的退出代码：" + CodeText(*e.install.setupExitCode) + "。";
        return r;
    }
    r.text = "原因：SQL Server安装程序报告：" + (s.exitMessage.empty() ? s.finalResult : s.exitMessage);
    if (code) r.text += "（退出代码" + CodeText(*code) + "）";
    r.text += "。";
    return r;
}

std::string ComposeFailureMessage(const FailureReport& report, const std::string& saPassword)
{
    std::string text = std::string(kInstallFailedMessage) + "\n\n" + report.text;
    if (report.showPassword) text += "\nSA密码：" + saPassword;
    if (!report.summaryPath.empty()) text += "\n" + report.summaryPath;
    return text;
}

FailureEvidence CollectFailureEvidence(const InstallEvidence& install, ServiceState service,
                                       const std::string& sqlVersionCode, const std::string& installDir)
{
    FailureEvidence e;
    e.install = install;
    e.service = service;
    e.sqlVersionCode = sqlVersionCode;
    e.installDir = installDir;
    const std::optional<SummaryFile> file = PickSetupSummary(ListSetupSummaries(), install.setupStarted);
    if (!file) return e;
    e.summaryPath = file->path;
    std::string text;
    if (ReadSetupSummary(file->path, text)) e.summary = ParseSetupSummary(text);
    e.summaryStatus = e.summary.recognised ? SummaryStatus::Read : SummaryStatus::Unreadable;
    return e;
}
