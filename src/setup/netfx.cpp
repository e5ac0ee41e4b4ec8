#include "setup/netfx.h"

#include "envcheck/version.h"
#include "platform/fs.h"
#include "platform/runner.h"
#include "platform/strings.h"

namespace {

bool SameFolderName(const std::string& a, const std::string& b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The DISM program of the batch line. Where Windows lives in C:\Windows the
// line keeps its usual text; elsewhere C:\Windows\System32 may be a folder on
// a data volume where any user can leave a dism.exe, so the real system
// folder is named, quoted (it may hold blanks).
std::string DismProgram(const std::string& systemFolder)
{
    if (systemFolder.empty() || SameFolderName(systemFolder, kUsualSystemFolder))
        return "c:\\windows\\system32\\dism.exe";
    // Appended rather than added: GCC 12 warns falsely (-Wrestrict) on a
    // chain of + that puts a literal in front of a temporary.
    std::string program;
    program.append(1, '"').append(JoinPath(systemFolder, "dism.exe")).append(1, '"');
    return program;
}

}  // namespace

std::string NetFx35CommandLine(const std::string& windowsVersion, const std::string& systemFolder)
{
    const std::string dism = DismProgram(systemFolder);
    // Windows 7 / Server 2008 R2 has no NetFx3ServerFeatures feature.
    if (windowsVersion == "6.1")
        return dism + "  /Online /Enable-Feature /FeatureName:IIS-ASPNET "
                      "/FeatureName:NetFx3 /FeatureName:IIS-NetFxExtensibility "
                      "/FeatureName:IIS-ApplicationDevelopment";
    return dism + "  /Online /Enable-Feature /FeatureName:IIS-ASPNET "
                  "/FeatureName:NetFx3 /FeatureName:NetFx3ServerFeatures /FeatureName:IIS-NetFxExtensibility "
                  "/FeatureName:IIS-ApplicationDevelopment";
}

bool EnableNetFx35(const std::string& programDir, EventPump pump)
{
    const std::string batchFile = JoinPath(programDir, "fx35.bat");
    // The batch file runs as administrator from a folder other users may
    // write to: it is written fresh, with the protected DACL, and held
    // sharing read only while it runs. A leftover (read-only, or planted
    // with other commands) is removed first; one that cannot be removed,
    // or a file that cannot be made fresh, is never run.
    if (!DeleteFileIfExists(batchFile)) return false;
    HeldFile batch =
        WriteFreshTextFile(batchFile, NetFx35CommandLine(GetWindowsVersion(), NativeSystemFolder()));
    if (!batch) return false;
    // Through the 64-bit command interpreter on 64-bit Windows: a 32-bit
    // installer would otherwise reach the 32-bit system folder, where DISM
    // cannot service the 64-bit system.
    RunBatchAndWait(batchFile, pump);
    const bool ran = LastExitCode().has_value();
    batch.reset();
    DeleteFileIfExists(batchFile);
    return ran;
}
