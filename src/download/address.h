#pragma once

#include <string>

// https://HOST/api/sqlserver.asp?version=KEY&x64=FLAG
std::string ServiceAddress(const std::string& host, const std::string& version, int x64);

// The text between the first "[" and the next "]"; empty when either is missing.
std::string ExtractBracketed(const std::string& answer);

// Asks the download-address service of this build for the package address.
std::string QueryDownloadAddress(const std::string& version, int x64);

// The text after the last "/" of the address.
std::string PackageFileNameFrom(const std::string& address);

// An address the tool's command line can carry safely: holds a ":" and no
// double quote or control character.
bool IsUsablePackageAddress(const std::string& address);

// A name that stays inside the package directory (not empty, ".", "..", and
// free of "\", ":" and the other characters Windows forbids in names) and
// names a program: it ends in ".exe", in any letter case.
bool IsUsablePackageFileName(const std::string& name);

// The name ends in ".exe" (any letter case) after at least one character.
bool EndsWithProgramExtension(const std::string& name);

// The download tool's command line, byte for byte.
std::string WgetCommandLine(const std::string& programDir, const std::string& packageDir,
                            const std::string& address);
