#include "address.h"

#include <cstdio>

#include "platform/device_names.h"

namespace wget {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string Percent(unsigned char c)
{
    char buf[4];
    std::snprintf(buf, sizeof buf, "%%%02X", c);
    return buf;
}

// Escapes what may not travel raw on a request line; existing "%XX"
// sequences are kept, a "%" that starts none becomes "%25".
std::string EscapeTarget(std::string_view raw)
{
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == '%') {
            const bool escape = i + 2 < raw.size() && IsHex(raw[i + 1]) && IsHex(raw[i + 2]);
            out += escape ? "%" : "%25";
        } else if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' ||
                   c == '^' || c == '`' || c == '{' || c == '|' || c == '}') {
            out += Percent(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool ParsePort(std::string_view text, int& port)
{
    if (text.empty() || text.size() > 5) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

}  // namespace

std::optional<Address> ParseAddress(std::string_view text, std::string& error)
{
    Address a;
    std::string_view rest = text;
    const std::size_t sep = text.find("://");
    if (sep != std::string_view::npos) {
        std::string scheme;
        for (char c : text.substr(0, sep)) scheme += Lower(c);
        if (scheme == "https") a.secure = true;
        else if (scheme != "http") {
            error = "不支持的协议：“" + std::string(text) + "”。";
            return std::nullopt;
        }
        rest = text.substr(sep + 3);
    }
    a.port = a.secure ? 443 : 80;
    const std::size_t authEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authEnd);
    std::string_view target = authEnd == std::string_view::npos ? std::string_view{} : rest.substr(authEnd);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority = authority.substr(at + 1);  // user info is not used

    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            error = "无效的 IPv6 数字地址：“" + std::string(text) + "”。";
            return std::nullopt;
        }
        a.host = std::string(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                error = "无效的 URL：“" + std::string(text) + "”。";
                return std::nullopt;
            }
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        a.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
    }
    if (a.host.empty()) {
        error = "无效的主机名：“" + std::string(text) + "”。";
        return std::nullopt;
    }
    // "host:" with nothing after the colon means the default port.
    if (hasPort && !portText.empty() && !ParsePort(portText, a.port)) {
        error = "无效的端口号：“" + std::string(text) + "”。";
        return std::nullopt;
    }
    const std::size_t hash = target.find('#');  // the fragment is never sent
    target = target.substr(0, hash);
    a.target = EscapeTarget(target);
    if (a.target.empty() || a.target[0] != '/') a.target = "/" + a.target;
    return a;
}

std::string FileNameFromAddress(std::string_view address)
{
    const std::size_t slash = address.rfind('/');
    std::string_view raw = slash == std::string_view::npos ? address : address.substr(slash + 1);
    if (raw.empty() || raw == "." || raw == "..") return "index.html";
    std::string name;
    bool queryMarked = false;
    for (char ch : raw) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '?' && !queryMarked) {
            name += '@';
            queryMarked = true;
        } else if (c < 0x20 || c == 0x7F || c == '\\' || c == ':' || c == '*' || c == '?' ||
                   c == '"' || c == '<' || c == '>' || c == '|') {
            name += Percent(c);
        } else {
            name += ch;
        }
    }
    if (IsDeviceName(name)) name = "_" + name;
    return name;
}

std::string PathUnderPrefix(std::string_view dir, std::string_view name)
{
    if (dir.empty() || dir == ".") return std::string(name);
    std::string out(dir);
    if (out.back() != '\\' && out.back() != '/') out += '\\';
    out += name;
    return out;
}

}  // namespace wget
