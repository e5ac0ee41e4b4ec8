#include "envcheck/program_folder.h"

#include "platform/strings.h"

ProgramFolderVerdict CheckProgramFolder(const std::string& programDir, const std::string& programFile)
{
    for (const std::string& path : {programDir, JoinPathCollapsed(programDir, programFile),
                                    JoinPathCollapsed(programDir, "wget.exe")}) {
        const ObjectTrust trust = JudgeObjectTrust(path);
        if (!trust.Safe()) return {path, trust};
    }
    return {};
}
