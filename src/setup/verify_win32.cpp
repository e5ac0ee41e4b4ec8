// The test connection of step 5, through ADO's vtable interface _Connection.
// Late binding through IDispatch fails under Wine (ADO's type library is
// registered under another version there); the vtable works on both.
#include "setup/verify.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "platform/com_win32.h"
#include "platform/handles_win32.h"
#include "platform/text_win32.h"

// The leading part of _Connection (through Open), in vtable order. mingw's
// adoint.h does not compile as C++ for a Windows 7 target, so only what is
// called here is declared; the later methods are never reached. It lives
// outside the anonymous namespace: there GCC would see that no class in the
// program implements it and turn every call into a pure-virtual trap.
namespace ado {

struct Connection : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Properties(IUnknown** properties) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionString(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ConnectionString(BSTR text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CommandTimeout(LONG* seconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CommandTimeout(LONG seconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(LONG* seconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(LONG seconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Version(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE Execute(BSTR command, VARIANT* recordsAffected,
                                              long options, IUnknown** recordset) = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginTrans(long* level) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommitTrans() = 0;
    virtual HRESULT STDMETHODCALLTYPE RollbackTrans() = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR connectionString, BSTR userId, BSTR password,
                                           long options) = 0;
};

}  // namespace ado

namespace {

// CLSID of ADODB.Connection and IID of _Connection.
constexpr CLSID kClsidAdoConnection = {
    0x00000514, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr IID kIidAdoConnection = {
    0x00000550, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

constexpr long kAdOptionUnspecified = -1;
constexpr LONG kCommandTimeoutSeconds = 15;

bool OpenAndClose() noexcept
{
    ComPtr<ado::Connection> connection;
    if (FAILED(::CoCreateInstance(kClsidAdoConnection, nullptr, CLSCTX_INPROC_SERVER,
                                  kIidAdoConnection, connection.putVoid())) ||
        !connection)
        return false;
    if (FAILED(connection->put_CommandTimeout(kCommandTimeoutSeconds))) return false;

    std::wstring text;
    try {
        text = Utf8ToWide(kSqlConnectionString);
    } catch (...) {
        return false;
    }
    const UniqueBstr connectionString = MakeBstr(text);
    const UniqueBstr empty = MakeBstr(std::wstring{});
    if (!connectionString || !empty) return false;
    if (FAILED(connection->Open(connectionString.get(), empty.get(), empty.get(),
                                kAdOptionUnspecified)))
        return false;
    connection->Close();
    return true;
}

}  // namespace

bool TestSqlConnection() noexcept
{
    ComApartment apartment;
    return OpenAndClose();
}
