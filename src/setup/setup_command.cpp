#include "setup/setup_command.h"

std::string SetupCommandLine(const SetupRequest& request)
{
    // Joined from fixed pieces that carry their own blanks and quotes; the
    // directory and the password need no escaping (the settings page refuses
    // a double quote, the password alphabet has neither quote nor blank).
    return "\"" + request.package + "\"" + " " + request.quietSwitch +
           " /ACTION=Install /FEATURES=SQL,Tools /INSTANCENAME=" + request.instance + " /INSTALLSQLDATADIR=" + "\"" +
           request.directory + "\"" + "  /SECURITYMODE=\"SQL\" /SQLSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" /SAPWD=" +
           "\"" + request.password + "\"" +
           " /SQLSYSADMINACCOUNTS=\"BUILTIN\\ADMINISTRATORS\" /ENABLERANU=1 /AGTSVCACCOUNT=\"NT "
           "AUTHORITY\\SYSTEM\" /TCPENABLED=1 /ERRORREPORTING=1 /IACCEPTSQLSERVERLICENSETERMS";
}
