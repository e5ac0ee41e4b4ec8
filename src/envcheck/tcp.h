#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The local ports of every row of the machine's IPv4 TCP table, whatever the
// state, as ",135,445,1433"; empty when the table cannot be read.
std::string GetTcpLocalPorts() noexcept;

// Whole-number search of the port in GetTcpLocalPorts().
bool IsPortInUse(int port) noexcept;

// ",p1,p2,..." in the order given.
std::string FormatPortList(const std::vector<uint16_t>& ports);
// Whole-number search of port in a list made by FormatPortList.
bool PortListContains(const std::string& list, int port);
