#include "options.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

namespace wget {
namespace {

enum class Id { Continue, Prefix, Output, Tries, Timeout, DnsTimeout, ConnectTimeout, ReadTimeout,
                WaitRetry, Quiet, Help, Version };

struct OptionInfo {
    std::string_view longName;
    char shortName;  // 0: long form only
    bool takesValue;
    Id id;
};

constexpr OptionInfo kOptions[] = {
    {"continue", 'c', false, Id::Continue},
    {"directory-prefix", 'P', true, Id::Prefix},
    {"output-document", 'O', true, Id::Output},
    {"tries", 't', true, Id::Tries},
    {"timeout", 'T', true, Id::Timeout},
    {"dns-timeout", 0, true, Id::DnsTimeout},
    {"connect-timeout", 0, true, Id::ConnectTimeout},
    {"read-timeout", 0, true, Id::ReadTimeout},
    {"waitretry", 0, true, Id::WaitRetry},
    {"quiet", 'q', false, Id::Quiet},
    {"help", 'h', false, Id::Help},
    {"version", 'V', false, Id::Version},
};

const OptionInfo* FindShort(char c)
{
    for (const OptionInfo& s : kOptions)
        if (s.shortName == c) return &s;
    return nullptr;
}

// getopt_long's rule: an exact name wins, otherwise a prefix must be unique.
const OptionInfo* FindLong(std::string_view name, std::string& error)
{
    const OptionInfo* found = nullptr;
    int matches = 0;
    std::string candidates;
    for (const OptionInfo& s : kOptions) {
        if (s.longName == name) return &s;
        if (!name.empty() && s.longName.substr(0, name.size()) == name) {
            found = &s;
            ++matches;
            candidates += " '--" + std::string(s.longName) + "'";
        }
    }
    if (matches == 1) return found;
    if (matches > 1) error = "wget: 选项“--" + std::string(name) + "”有歧义；可能是：" + candidates;
    else error = "wget: 无法识别的选项“--" + std::string(name) + "”";
    return nullptr;
}

bool ParseCount(const std::string& text, int& out)
{
    if (text == "inf" || text == "INF") {
        out = 0;
        return true;
    }
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    out = std::atoi(text.c_str());
    return true;
}

// Seconds with an optional fraction ("3", "0.5"), as GNU wget takes them.
bool ParseSeconds(const std::string& text, double& out)
{
    if (text == "inf" || text == "INF") {
        out = 0;
        return true;
    }
    if (text.empty()) return false;
    bool digits = false, point = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') digits = true;
        else if (c == '.' && !point) point = true;
        else return false;
    }
    if (!digits) return false;
    out = std::strtod(text.c_str(), nullptr);
    // Beyond about 24 days the milliseconds no longer fit the platform's int.
    return out <= 2000000.0;
}

int ToMilliseconds(double seconds)
{
    const double ms = std::ceil(seconds * 1000.0);
    return static_cast<int>(ms);
}

// Applies one option; false with error set when its value is unusable.
bool Apply(const OptionInfo& option, const std::string& value, ParseResult& result, std::string& error)
{
    Options& o = result.options;
    double seconds = 0;
    const std::string shown = "--" + std::string(option.longName);
    switch (option.id) {
    case Id::Continue: o.continueFile = true; return true;
    case Id::Quiet: o.quiet = true; return true;
    case Id::Help: result.action = ParseAction::Help; return true;
    case Id::Version: result.action = ParseAction::Version; return true;
    case Id::Prefix: o.directoryPrefix = value.empty() ? "." : value; return true;
    case Id::Output: o.outputDocument = value; return true;
    case Id::Tries:
        if (ParseCount(value, o.tries)) return true;
        break;
    case Id::WaitRetry:
        if (ParseSeconds(value, seconds)) {
            o.waitRetrySeconds = static_cast<int>(seconds);
            return true;
        }
        break;
    case Id::Timeout:
    case Id::DnsTimeout:
    case Id::ConnectTimeout:
    case Id::ReadTimeout:
        if (ParseSeconds(value, seconds)) {
            const int ms = ToMilliseconds(seconds);
            if (option.id == Id::Timeout || option.id == Id::DnsTimeout) o.dnsTimeoutMs = ms;
            if (option.id == Id::Timeout || option.id == Id::ConnectTimeout) o.connectTimeoutMs = ms;
            if (option.id == Id::Timeout || option.id == Id::ReadTimeout) o.readTimeoutMs = ms;
            return true;
        }
        break;
    }
    error = "wget: " + shown + "：无效的数值“" + value + "”。";
    return false;
}

ParseResult Fail(std::string message)
{
    ParseResult r;
    r.action = ParseAction::UsageError;
    r.message = std::move(message);
    return r;
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args)
{
    ParseResult result;
    std::string error;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            // A lone "-" is an address, as for getopt.
            result.options.addresses.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionInfo* option = FindLong(name, error);
            if (!option) return Fail(error);
            std::string value;
            if (option->takesValue) {
                if (eq != std::string::npos) value = arg.substr(eq + 1);
                else if (i + 1 < args.size()) value = args[++i];
                else return Fail("wget: 选项“--" + std::string(option->longName) + "”需要一个参数");
            } else if (eq != std::string::npos) {
                return Fail("wget: 选项“--" + std::string(option->longName) + "”不允许有参数");
            }
            if (!Apply(*option, value, result, error)) return Fail(error);
            // GNU wget answers --help and --version as soon as it meets them.
            if (result.action != ParseAction::Run) return result;
            continue;
        }
        // A cluster of short options; one that takes a value takes the rest
        // of the cluster, or the next argument when the cluster ends there.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionInfo* option = FindShort(arg[k]);
            if (!option) return Fail("wget: 无效选项 -- “" + arg.substr(k, 1) + "”");
            std::string value;
            if (option->takesValue) {
                if (k + 1 < arg.size()) value = arg.substr(k + 1);
                else if (i + 1 < args.size()) value = args[++i];
                else return Fail("wget: 选项需要一个参数 -- “" + arg.substr(k, 1) + "”");
                k = arg.size();
            }
            if (!Apply(*option, value, result, error)) return Fail(error);
            if (result.action != ParseAction::Run) return result;
        }
    }
    if (result.options.addresses.empty()) {
        result.action = ParseAction::NoAddress;
        result.message = "wget: 缺少 URL";
    }
    return result;
}

std::string UsageHint()
{
    return "用法：wget [选项]... [URL]...\n\n请尝试执行“wget --help”获取更多选项。\n";
}

std::string HelpText()
{
    return "Corvane·Stackhold 下载工具，一个非交互式的网络文件下载工具。\n"
           "用法：wget [选项]... [URL]...\n"
           "\n"
           "长选项所必须的参数在使用短选项时也是必须的。\n"
           "\n"
           "启动：\n"
           "  -V,  --version                   显示版本信息并退出\n"
           "  -h,  --help                      打印此帮助\n"
           "\n"
           "日志：\n"
           "  -q,  --quiet                     安静模式（无信息输出）\n"
           "\n"
           "下载：\n"
           "  -t,  --tries=次数                设置重试次数为 <次数>（0 代表无限制，默认 20）\n"
           "  -O,  --output-document=文件      将文档写入 <文件>（“-”为标准输出）\n"
           "  -c,  --continue                  断点续传下载文件\n"
           "  -T,  --timeout=秒数              将所有超时设为 <秒数>\n"
           "       --dns-timeout=秒数          设置 DNS 查询超时为 <秒数>\n"
           "       --connect-timeout=秒数      设置连接超时为 <秒数>（默认 60）\n"
           "       --read-timeout=秒数         设置读取超时为 <秒数>（默认 900）\n"
           "       --waitretry=秒数            在获取文件的重试期间等待 1..<秒数> 秒（默认 10）\n"
           "\n"
           "目录：\n"
           "  -P,  --directory-prefix=前缀     保存文件到 <前缀>/..\n"
           "\n"
           "退出状态：0 成功，1 一般错误，2 命令行错误，3 文件读写错误，4 网络故障，\n"
           "5 证书验证失败，8 服务器返回错误。\n";
}

std::string VersionText()
{
    return "Corvane·Stackhold wget 1.0（WinHTTP）\n"
           "支持 HTTP 与 HTTPS（始终验证服务器证书）、断点续传与自动重试。\n";
}

}  // namespace wget
