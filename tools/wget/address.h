// What the tool takes from a download address: where to connect, what to
// ask for, and the file name to store the answer under.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wget {

struct Address {
    bool secure = false;     // https
    std::string host;        // without the brackets of an IPv6 literal
    int port = 80;
    std::string target;      // path and query as sent on the request line, escaped
};

// Parses an http or https address; an address without "scheme://" is taken
// as http, as GNU wget does. On failure returns nothing and sets error.
std::optional<Address> ParseAddress(std::string_view text, std::string& error);

// The name the file is stored under: the text after the last "/" of the
// address as given (a query stays part of it), "index.html" when that text
// is empty, "." or "..". Characters Windows forbids in file names are
// replaced as GNU wget does on Windows: the first "?" becomes "@", the
// others and the control characters become "%XX". A device name
// (IsDeviceName, the rule the installer refuses them by: CON, "nul.txt",
// "con .exe" ...) gets a leading "_" so that the data lands in a file and
// not on a device.
std::string FileNameFromAddress(std::string_view address);

// Where -P puts a file: dir + "\" + name, GNU wget's rule rather than the
// installer's plain join: no separator is added after a trailing "\" or "/", and
// "." stands for the current directory and is left out.
std::string PathUnderPrefix(std::string_view dir, std::string_view name);

}  // namespace wget
