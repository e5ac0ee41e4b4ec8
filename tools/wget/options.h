// The download tool's command line, read the way GNU wget reads its own:
// short options may be clustered ("-cq") and take their value joined
// ("-PDIR", "-P,") or as the next argument; long options take "=VALUE" or
// the next argument and may be shortened to any unambiguous prefix; options
// and addresses may be mixed; "--" ends the options. A later option of the
// same kind replaces an earlier one, so in `-c -P, --directory-prefix=D` the
// directory is D.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace wget {

struct Options {
    bool continueFile = false;         // -c, --continue
    std::string directoryPrefix = "."; // -P, --directory-prefix
    std::optional<std::string> outputDocument;  // -O, --output-document ("-": standard output)
    int tries = 20;                    // -t, --tries; 0 means no limit
    // Time limits in milliseconds; 0 means none. -T sets all three. The
    // name lookup is left to the system's resolver and the connection to
    // WinHTTP's own 60 s limit; reading waits 900 s, as GNU wget does.
    int dnsTimeoutMs = 0;
    int connectTimeoutMs = 60 * 1000;
    int readTimeoutMs = 900 * 1000;
    int waitRetrySeconds = 10;         // --waitretry: longest pause between tries
    bool quiet = false;                // -q, --quiet
    std::vector<std::string> addresses;
};

enum class ParseAction {
    Run,        // download options.addresses
    Help,       // print the help text, exit 0
    Version,    // print the version, exit 0
    UsageError, // print message and the usage hint, exit 2
    NoAddress,  // no address given: print message and the usage hint, exit 1
};

struct ParseResult {
    ParseAction action = ParseAction::Run;
    Options options;
    std::string message;  // for UsageError and NoAddress, without the usage hint
};

// args excludes the program name. Texts are UTF-8.
ParseResult ParseArguments(const std::vector<std::string>& args);

// "用法：wget [选项]... [URL]...\n\n请尝试执行“wget --help”获取更多选项。\n"
std::string UsageHint();
std::string HelpText();
std::string VersionText();

}  // namespace wget
