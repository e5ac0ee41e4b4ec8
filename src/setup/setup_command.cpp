#include "setup/setup_command.h"

#include "platform/strings.h"
#include "wizard/main_form.h"

std::string SetupCommandLine(const InstallState& state)
{
    // Joined from fixed pieces that carry their own blanks and quotes; the
    // directory and the password need no escaping (the settings page refuses
    // a double quote, the password alphabet has neither quote nor blank).
    const std::string package = JoinPath(state.PackageDir, state.PackageFileName);
    return "\"" + package + "\"" + " " + state.QuietSwitch + " /ACTION=Install /FEATURES=SQL,Tools /INSTANCENAME=" +
           state.InstanceName + " /INSTALLSQLDATADIR=" + "\"" + state.InstallDir + "\"" +
           "  /SECURITYMODE=\"SQL\" /SQLSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" /SAPWD=" + "\"" +
           state.SaPassword + "\"" +
           " /SQLSYSADMINACCOUNTS=\"BUILTIN\\ADMINISTRATORS\" /ENABLERANU=1 /AGTSVCACCOUNT=\"NT "
           "AUTHORITY\\SYSTEM\" /TCPENABLED=1 /ERRORREPORTING=1 /IACCEPTSQLSERVERLICENSETERMS";
}
