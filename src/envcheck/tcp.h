#pragma once

#include <cstdint>
#include <vector>

// The local ports of every row of the machine's IPv4 TCP table, whatever the
// state, in table order (a port once per row that holds it); empty when the
// table cannot be read. Remote ports and the IPv6 table are not looked at.
std::vector<uint16_t> GetTcpLocalPorts() noexcept;

// True when port is one of GetTcpLocalPorts(): whole numbers, so 143 is no
// match for a row holding 1433, and a port outside 0..65535 matches nothing.
bool IsPortInUse(int port) noexcept;
