// The WinHTTP client under Wine against nginx and the harness's fault server
// on 127.0.0.1 (both started by download_servers.py): bodies over http and https,
// error pages, code page 936 text, refused and untrusted servers, and the
// HEAD size up to 64 bits while the window's events keep flowing.
#include <doctest/doctest.h>

#include "download/http.h"
#include "win_test_util.h"
#include "wizard/ui.h"

#include <cstdlib>

using namespace wintest;

namespace {

std::string Url(const char* server, const std::string& path)
{
    const std::string base = Env(server);
    REQUIRE_MESSAGE(!base.empty(), server << " is not set: run through download_servers.py");
    return base + path;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

TEST_CASE("HttpGet returns the body over http and https")
{
    const std::string expected = "hello from nginx\n";
    const std::string urls[] = {
        Url("STACKHOLD_TEST_HTTP", "/hello.txt"),
        Url("STACKHOLD_TEST_HTTPS", "/hello.txt"),
        // The scheme and host in capitals are the same address.
        Upper(Url("STACKHOLD_TEST_HTTPS", "")) + "/hello.txt",
        // An http address that carries "https://" in its query.
        Url("STACKHOLD_TEST_HTTP", "/hello.txt?next=https://localhost/"),
    };
    for (const std::string& url : urls) {
        CAPTURE(url);
        CHECK(HttpGet(url) == expected);
    }
}

TEST_CASE("HttpGet returns the body of an error page")
{
    const std::string page = HttpGet(Url("STACKHOLD_TEST_HTTP", "/no-such-file.txt"));
    CHECK(page.find("404 Not Found") != std::string::npos);
}

TEST_CASE("HttpGet decodes a code page 936 body")
{
    REQUIRE_MESSAGE(GetACP() == 936, "run with LANG=zh_CN.UTF-8 (scripts/wine-run.sh does)");
    CHECK(HttpGet(Url("STACKHOLD_TEST_HTTP", "/gbk.txt")) ==
          "下载地址嘯乚：[http://127.0.0.1/packages/SQLEXPR_x64_CHS.exe]，请稍候乕俔。\r\n");
}

TEST_CASE("HttpGet gives empty text, soon, when no answer can be had")
{
    struct Case {
        const char* what;
        std::string url;
    };
    const Case cases[] = {
        {"refused port (five attempts)", Url("STACKHOLD_TEST_REFUSED", "/hello.txt")},
        {"certificate of an untrusted issuer", Url("STACKHOLD_TEST_UNTRUSTED", "/hello.txt")},
        // A body far beyond any answer of the service is not read into memory.
        {"body of more than 5 GiB", Url("STACKHOLD_TEST_HTTP", "/big.bin")},
        {"not an http address", "ftp://127.0.0.1/hello.txt"},
        {"no address at all", "no address"},
        {"empty address", ""},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        Stopwatch clock;
        CHECK(HttpGet(c.url).empty());
        CHECK(clock.Seconds() < 10.0);
    }
}

TEST_CASE("BytesToText decodes the system ANSI code page")
{
    REQUIRE(GetACP() == 936);
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"", ""},
        {"[http://h/p.exe]", "[http://h/p.exe]"},
        // 下载 in GBK, and 嘯 whose second byte is "[".
        {"\xCF\xC2\xD4\xD8[x]\x87\x5B", "下载[x]嘯"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) CHECK(BytesToText(c.bytes) == c.text);
    // A lead byte with nothing after it: the text before it survives.
    const std::string cut = BytesToText("ok\xCF");
    CHECK(cut.substr(0, 2) == "ok");
}

TEST_CASE("GetRemoteFileSize reads Content-Length as a 64-bit number")
{
    const int64_t sized = std::atoll(Env("STACKHOLD_TEST_SIZED_SIZE").c_str());
    const int64_t big = std::atoll(Env("STACKHOLD_TEST_BIG_SIZE").c_str());
    REQUIRE(sized > 0);
    REQUIRE(big > (int64_t{1} << 32));
    const std::string errorPage = Url("STACKHOLD_TEST_HTTP", "/no-such-file.bin");
    struct Case {
        std::string url;
        int64_t size;
    };
    const Case cases[] = {
        {Url("STACKHOLD_TEST_HTTP", "/sized.bin"), sized},
        {Url("STACKHOLD_TEST_HTTPS", "/sized.bin"), sized},
        {Url("STACKHOLD_TEST_HTTP", "/big.bin"), big},
        // An error answer's own Content-Length counts, as any other.
        {errorPage, static_cast<int64_t>(HttpGet(errorPage).size())},
        {Url("STACKHOLD_TEST_FAULTS", "/nolength"), 0},
        {Url("STACKHOLD_TEST_FAULTS", "/hugelength"), 0},
        {Url("STACKHOLD_TEST_REFUSED", "/sized.bin"), 0},
        {Url("STACKHOLD_TEST_UNTRUSTED", "/sized.bin"), 0},
        {"not an address", 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.url);
        CHECK(GetRemoteFileSize(c.url, PumpEvents) == c.size);
    }
}

TEST_CASE("GetRemoteFileSize keeps the window's events flowing while it waits")
{
    TickingWindow window(100);
    REQUIRE(window.ok());
    Stopwatch clock;
    // The server takes 1.5 s before it answers.
    CHECK(GetRemoteFileSize(Url("STACKHOLD_TEST_FAULTS", "/slowhead"), PumpEvents) == 4242);
    CHECK(clock.Seconds() >= 1.4);
    CHECK(window.ticks() >= 5);
}
