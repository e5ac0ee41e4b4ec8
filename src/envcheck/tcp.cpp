#include "envcheck/tcp.h"

std::string FormatPortList(const std::vector<uint16_t>& ports)
{
    std::string list;
    for (const uint16_t port : ports) {
        list += ',';
        list += std::to_string(port);
    }
    return list;
}

bool PortListContains(const std::string& list, int port)
{
    // Commas on both sides: 143 must not match a row holding 1433.
    std::string haystack(1, ',');
    haystack += list;
    haystack += ',';
    std::string needle(1, ',');
    needle += std::to_string(port);
    needle += ',';
    return haystack.find(needle) != std::string::npos;
}

bool IsPortInUse(int port) noexcept
{
    try {
        return PortListContains(GetTcpLocalPorts(), port);
    } catch (...) {
        // A search that cannot be made must not let the installer run over
        // a port that may be taken.
        return true;
    }
}
