// The local ports of the machine's IPv4 TCP table.
#include "envcheck/tcp.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/system_dll_win32.h"

namespace {

// The table can grow between asking for its size and reading it (a busy
// server opens connections all the time); ask again with the size the
// system reports, a few times, before giving up.
constexpr int kReadAttempts = 5;

using GetTcpTableFn = decltype(&::GetTcpTable);

}  // namespace

std::vector<uint16_t> GetTcpLocalPorts() noexcept
{
    try {
        // iphlpapi is no known DLL: taken from the system folder only.
        static const HMODULE iphlpapi = LoadSystemDll(L"iphlpapi.dll");
        const auto getTcpTable = ProcAddressAs<GetTcpTableFn>(iphlpapi, "GetTcpTable");
        if (!getTcpTable) return {};
        ULONG size = 0;
        DWORD result = getTcpTable(nullptr, &size, TRUE);
        if (result != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
        // DWORD elements keep the rows aligned as MIB_TCPTABLE expects.
        std::vector<DWORD> buffer;
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            buffer.assign(size / sizeof(DWORD) + 1, 0);
            ULONG capacity = static_cast<ULONG>(buffer.size() * sizeof(DWORD));
            result = getTcpTable(reinterpret_cast<PMIB_TCPTABLE>(buffer.data()), &capacity, TRUE);
            if (result == NO_ERROR) {
                const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
                // Never trust the count beyond the rows the buffer can hold.
                const std::size_t room =
                    (buffer.size() * sizeof(DWORD) - offsetof(MIB_TCPTABLE, table)) /
                    sizeof(MIB_TCPROW);
                const std::size_t rows = std::min<std::size_t>(table->dwNumEntries, room);
                std::vector<uint16_t> ports;
                ports.reserve(rows);
                for (std::size_t i = 0; i < rows; ++i)
                    ports.push_back(::ntohs(static_cast<u_short>(table->table[i].dwLocalPort & 0xFFFF)));
                return ports;
            }
            if (result != ERROR_INSUFFICIENT_BUFFER) return {};
            size = capacity;
        }
        return {};
    } catch (...) {
        return {};
    }
}
