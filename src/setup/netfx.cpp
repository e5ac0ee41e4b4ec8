#include "setup/netfx.h"

#include "envcheck/version.h"
#include "platform/fs.h"
#include "platform/runner.h"
#include "platform/strings.h"

std::string NetFx35CommandLine(const std::string& windowsVersion)
{
    // Windows 7 / Server 2008 R2 has no NetFx3ServerFeatures feature.
    if (windowsVersion == "6.1")
        return "c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET "
               "/FeatureName:NetFx3 /FeatureName:IIS-NetFxExtensibility "
               "/FeatureName:IIS-ApplicationDevelopment";
    return "c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET "
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
    HeldFile batch = WriteFreshTextFile(batchFile, NetFx35CommandLine(GetWindowsVersion()));
    if (!batch) return false;
    // Through the 64-bit command interpreter on 64-bit Windows: a 32-bit
    // installer would otherwise reach the 32-bit system folder, where DISM
    // cannot service the 64-bit system.
    RunBatchAndWait(batchFile, pump);
    batch.reset();
    DeleteFileIfExists(batchFile);
    return true;
}
