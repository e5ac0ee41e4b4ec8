// TEMPORARY: placeholders so the program links while the adapters are
// written. Each adapter's author deletes the lines their file now defines.
#include "envcheck/tcp.h"
#include "envcheck/version.h"
#include "platform/fs.h"
#include "platform/random.h"
#include "platform/service.h"
#include "platform/wow64.h"
bool DeleteFileIfExists(const std::string&) noexcept { return true; }
bool FileExists(const std::string&) noexcept { return false; }
bool FolderExists(const std::string&) noexcept { return false; }
bool EnsureFolder(const std::string&) noexcept { return false; }
void WriteTextFile(const std::string&, const std::string&) noexcept {}
void WriteUtf8TextFile(const std::string&, const std::string&) noexcept {}
bool TextFitsAnsiCodePage(const std::string&) noexcept { return true; }
int64_t GetDriveFreeSpace(const std::string&) noexcept { return 0; }
int64_t GetLocalFileSize(const std::string&) noexcept { return -1; }
bool ServiceExists(const std::string&) noexcept { return false; }
bool FillRandomBytes(void*, std::size_t) noexcept { return false; }
FsRedirectionOff::FsRedirectionOff() noexcept {}
FsRedirectionOff::~FsRedirectionOff() {}
std::string GetWindowsVersion() noexcept { return "0.0"; }
std::string GetTcpLocalPorts() noexcept { return {}; }
