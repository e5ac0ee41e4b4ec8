// Whether a service of a given key name is installed, asked of WMI.
//
// When WMI cannot be asked at all (no locator, no connection to root\cimv2,
// a failed query or one that never answers), the Service Control Manager is
// asked instead. Only when neither can be asked is the answer "not there":
// SQL Server setup itself refuses to install a default instance over an
// existing one, so a wrong "no" here cannot damage a machine, while a wrong
// "yes" would turn every operator away.
#include "platform/service.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include "platform/com_win32.h"
#include "platform/handles_win32.h"
#include "platform/service_win32.h"
#include "platform/text_win32.h"

namespace {

using UniqueScHandle = Unique<SC_HANDLE, [](SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }>;

// WMI is slow to answer the first query after the system starts, but a
// service that never answers must not hold the check for ever.
constexpr long kWmiItemTimeoutMs = 60000;

WmiAnswer AskWmi(const std::wstring& name)
{
    ComApartment apartment;
    ComPtr<IWbemLocator> locator;
    if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWbemLocator, locator.putVoid())))
        return WmiAnswer::Unreachable;

    const UniqueBstr space(::SysAllocString(L"root\\cimv2"));
    ComPtr<IWbemServices> services;
    // A WMI service that hangs must not hold the check for ever either: with
    // this flag the connection attempt gives up within two minutes.
    if (!space || FAILED(locator->ConnectServer(space.get(), nullptr, nullptr, nullptr,
                                                WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr,
                                                services.put())))
        return WmiAnswer::Unreachable;
    // The proxy must impersonate this process's user, or Win32_Service answers
    // nothing to a caller only identified.
    ::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                        RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);

    const std::wstring text = L"select * from win32_service where name='" + name + L"'";
    const UniqueBstr language(::SysAllocString(L"WQL"));
    const UniqueBstr query(::SysAllocString(text.c_str()));
    ComPtr<IEnumWbemClassObject> items;
    if (!language || !query ||
        FAILED(services->ExecQuery(language.get(), query.get(),
                                   WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                   items.put())))
        return WmiAnswer::Unreachable;

    // One object is enough to know; the objects themselves are not looked at.
    ComPtr<IWbemClassObject> item;
    ULONG returned = 0;
    const HRESULT next = items->Next(kWmiItemTimeoutMs, 1, item.put(), &returned);
    if (returned > 0) return WmiAnswer::Found;
    if (next == WBEM_S_FALSE) return WmiAnswer::NotFound;
    return WmiAnswer::Unreachable;  // failed or timed out
}

}  // namespace

WmiAnswer AskWmiForService(const std::string& name) noexcept
{
    try {
        return AskWmi(Utf8ToWide(name));
    } catch (...) {
        return WmiAnswer::Unreachable;
    }
}

bool ServiceKnownToScm(const std::string& name) noexcept
{
    try {
        const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager) return false;
        const std::wstring wide = Utf8ToWide(name);
        const UniqueScHandle service(::OpenServiceW(manager.get(), wide.c_str(), SERVICE_QUERY_STATUS));
        // A service this user may not query is there all the same.
        return service || ::GetLastError() == ERROR_ACCESS_DENIED;
    } catch (...) {
        return false;
    }
}

bool ServiceExists(const std::string& name) noexcept
{
    try {
        // A quotation mark would end the WQL string early and change the
        // query; no service key name holds one worth finding.
        if (name.find('\'') != std::string::npos) return false;
        switch (AskWmiForService(name)) {
        case WmiAnswer::Found: return true;
        case WmiAnswer::NotFound: return false;
        case WmiAnswer::Unreachable: break;
        }
        return ServiceKnownToScm(name);
    } catch (...) {
        return false;
    }
}

ServiceState QueryServiceState(const std::string& name) noexcept
{
    try {
        const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager) return ServiceState::Unknown;
        const std::wstring wide = Utf8ToWide(name);
        const UniqueScHandle service(::OpenServiceW(manager.get(), wide.c_str(), SERVICE_QUERY_STATUS));
        if (!service)
            return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceState::NotInstalled
                                                                    : ServiceState::Unknown;
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(service.get(), &status)) return ServiceState::Unknown;
        return status.dwCurrentState == SERVICE_RUNNING ? ServiceState::Running : ServiceState::Stopped;
    } catch (...) {
        return ServiceState::Unknown;
    }
}
