#include "download/address.h"

#include "download/http.h"
#include "platform/names.h"
#include "platform/strings.h"
#include "stackhold_config.h"

std::string ServiceAddress(const std::string& host, const std::string& version, int x64)
{
    return "https://" + host + "/api/sqlserver.asp?version=" + version + "&x64=" + std::to_string(x64);
}

std::string ExtractBracketed(const std::string& answer)
{
    if (!Contains(answer, "[") || !Contains(answer, "]")) return {};
    const std::string afterOpen = Split(answer, '[')[1];
    return Split(afterOpen, ']')[0];
}

std::string QueryDownloadAddress(const std::string& version, int x64)
{
    return ExtractBracketed(HttpGet(ServiceAddress(STACKHOLD_SERVICE_HOST, version, x64)));
}

std::string PackageFileNameFrom(const std::string& address)
{
    return Split(address, '/').back();
}

bool IsUsablePackageAddress(const std::string& address)
{
    if (!Contains(address, ":")) return false;
    // The address is quoted into the tool's command line: a double quote or
    // a control character would end the argument and smuggle in others.
    for (char c : address) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || u < 0x20 || u == 0x7f) return false;
    }
    return true;
}

bool IsUsablePackageFileName(const std::string& name)
{
    // The package is started as a program: a name that Windows would hand to
    // the command interpreter (".cmd", ".bat") or to another handler (".msi")
    // is never one.
    return IsValidWindowsName(name) && EndsWithProgramExtension(name);
}

bool EndsWithProgramExtension(const std::string& name)
{
    constexpr char kExtension[] = ".exe";
    constexpr std::size_t n = sizeof kExtension - 1;
    if (name.size() <= n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = name[name.size() - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExtension[i]) return false;
    }
    return true;
}

std::string WgetCommandLine(const std::string& programDir, const std::string& packageDir,
                            const std::string& address)
{
    const std::string tool = JoinPath(programDir, "wget.exe");
    return "\"" + tool + "\"" + " -c -P, --directory-prefix=" + "\"" + packageDir + "\"" + " " + "\"" + address +
           "\"";
}
