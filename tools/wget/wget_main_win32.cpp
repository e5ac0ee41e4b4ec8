// wget.exe: the download tool that lies beside the installer. The installer
// runs it as
//   "<dir>\wget.exe" -c -P, --directory-prefix="<PackageDir>" "<address>"
// and judges the result only by the size of <PackageDir>\<name>.
#include <windows.h>

#include <string>
#include <vector>

#include "address.h"
#include "console.h"
#include "files.h"
#include "options.h"
#include "policy.h"
#include "transfer.h"
#include "platform/system_dll_win32.h"
#include "platform/text_win32.h"

namespace {

// Without -c an existing file is kept and the new one is stored as
// name.1, name.2 ... as GNU wget does.
std::string FreshName(const std::string& path)
{
    if (!wget::PathExists(path)) return path;
    for (int n = 1;; ++n) {
        const std::string candidate = path + "." + std::to_string(n);
        if (!wget::PathExists(candidate)) return candidate;
    }
}

int Run(const std::vector<std::string>& args)
{
    using namespace wget;
    const ParseResult parsed = ParseArguments(args);
    switch (parsed.action) {
    case ParseAction::Help: SayOut(HelpText()); return kExitOk;
    case ParseAction::Version: SayOut(VersionText()); return kExitOk;
    case ParseAction::UsageError: Say(parsed.message + "\n" + UsageHint()); return kExitUsage;
    case ParseAction::NoAddress: Say(parsed.message + "\n" + UsageHint()); return kExitGeneric;
    case ParseAction::Run: break;
    }
    const Options& o = parsed.options;
    SetQuiet(o.quiet);
    if (!StartNetwork(o)) return kExitGeneric;

    int status = kExitOk;
    for (std::size_t i = 0; i < o.addresses.size(); ++i) {
        Job job;
        job.address = o.addresses[i];
        job.continueFile = o.continueFile;
        if (o.outputDocument) {
            job.path = *o.outputDocument == "-" ? std::string() : *o.outputDocument;
            job.appendDocument = i > 0;
        } else {
            job.path = PathUnderPrefix(o.directoryPrefix, FileNameFromAddress(job.address));
            if (!o.continueFile) job.path = FreshName(job.path);
        }
        status = CombineExitCodes(status, Fetch(job, o));
    }
    return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    RestrictDllSearch();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
    return Run(args);
}
