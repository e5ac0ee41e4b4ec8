#include "envcheck/tcp.h"

#include <algorithm>

bool IsPortInUse(int port) noexcept
{
    const std::vector<uint16_t> ports = GetTcpLocalPorts();
    return std::any_of(ports.begin(), ports.end(),
                       [port](uint16_t held) { return static_cast<int>(held) == port; });
}
