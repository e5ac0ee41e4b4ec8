"""Step 3 under real-world faults of the network and the disk: the service
down or answering nonsense, a package host without Content-Length or
cutting its connections, the download tool stopped from outside, the
package drive filling up. Each scenario checks the window's texts, the
message, how the installer ended and what it left on disk."""

import contextlib
import hashlib
import os
import re
import shutil
import signal
import socket

from harness import (Body, Cut, Drop, File, HarnessError, HttpServer, InstallRig, NoLength, ensure_pki, file_lock,
                     log, wait_until)
from harness.nginx import kServiceLock, kServicePort
from harness.mounts import Mounts
from checks import (ADDRESS_FAILED, DOWNLOADING, EDITION, INSTALLING, PACKAGE_WRONG, expect_message,
                    expect_nothing_fetched, expect_success, read)


SERVICE_PATH = "/api/sqlserver.asp"
SERVICE_URI = SERVICE_PATH + "?version=2012&x64=1"  # the default edition
PACKAGE_PATH = "/2012/SQLEXPR_x64_CHS.exe"
PACKAGE_NAME = "SQLEXPR_x64_CHS.exe"
PROGRAM_DIR = "C:\\Stackhold"
PACKAGES_DIR = PROGRAM_DIR + "\\packages"
MIB = 1024 * 1024


# ---------------------------------------------------------------- helpers


def sha256(data_or_path):
    if isinstance(data_or_path, bytes):
        return hashlib.sha256(data_or_path).hexdigest()
    with open(data_or_path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def signed_standin(build, folder):
    """The stand-in setup signed by the test publisher: (its path, its bytes)."""
    src = build.fixture("setup_standin.exe")
    build.require(src)
    os.makedirs(folder, exist_ok=True)
    path = ensure_pki().sign(src, os.path.join(folder, "setup_standin.signed.exe"))
    return path, read(path)


def service(answer):
    """The download-address service on localhost:47443 (HTTPS, test CA):
    every request to its path gets `answer` (or answer(request))."""
    return HttpServer({SERVICE_PATH: answer}, tls=ensure_pki(), port=kServicePort)


def package_host(answer):
    """A plain-HTTP package host on a free port serving PACKAGE_PATH."""
    return HttpServer({PACKAGE_PATH: answer})


def uris(server):
    with server.lock:
        return [(r.method, r.raw_path) for r in server.requests]


def gets(server):
    with server.lock:
        return [r for r in server.requests if r.method == "GET"]


def start(s, install_dir=None):
    """Launches the installer, waits for the settings page, optionally puts
    another installation directory in, and submits the defaults."""
    s.launch()
    d = s.driver
    shown = d.wait_visible("Step2_Submit", True, timeout=30, check=False)
    if not shown["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("no settings page after step 1: %s" % (box.get("text") if box["ok"] else shown))
    if install_dir is not None:
        d.settext("Step2_Path", install_dir)
    d.click("Step2_Submit")


def relaunch(s, install_dir=None):
    """Starts the installer again in the same prefix, after its end."""
    if s.driver is not None:
        s.driver.quit()
        s.driver = None
    if s.installer is not None:
        s.installer.stop()
    start(s, install_dir)


def expect_no_tool(s):
    left = s.wine_pids("wget.exe")
    assert not left, "wget.exe still runs (Linux ids %s)" % left


def close_after_success(s):
    s.driver.click("Label_Close")  # ends at once after step 5
    assert s.wait_exit(10) is not None, "still running after Label_Close in step 5"


# ---------------------------------------------------------------- the service


def nothing_listens(port):
    for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        with contextlib.suppress(OSError), socket.socket(family, socket.SOCK_STREAM) as c:
            c.settimeout(1)
            if c.connect_ex((host, port)) == 0:
                return False
    return True

def scenario_fault_service_down(ctx):
    """The service refuses connections, then accepts each one and drops it
    without an answer: five attempts, then the address message, and step 3
    goes no further (nothing fetched, no tool)."""
    with ctx.scenario() as s:
        # Refused: the service's lock keeps every harness server off the port.
        with file_lock(kServiceLock, timeout=300):
            if not nothing_listens(kServicePort):
                raise HarnessError("something outside the harness listens on port %d" % kServicePort)
            start(s)
            under = expect_message(s, ADDRESS_FAILED)
        assert under.text("About1") == DOWNLOADING, under.text("About1")
        assert under.text("About2") == "数据库版本：" + EDITION, under.text("About2")
        expect_nothing_fetched(s, "no address")
        expect_no_tool(s)

        # Dropped: every attempt reaches the service and gets nothing back.
        with service(Drop()) as down:
            relaunch(s)
            expect_message(s, ADDRESS_FAILED)
            assert uris(down) == [("GET", SERVICE_URI)] * 5, uris(down)
        expect_nothing_fetched(s, "no address")
        expect_no_tool(s)


def scenario_fault_service_answers(ctx):
    """Answers of the service that hold no usable address, each in a run of
    its own: an error page, an address without brackets, and an address
    with a double quote (which would end the tool's quoted argument and
    smuggle in another), and a package named ".cmd". Each asks the service once, shows the address
    message and ends; no request reaches the package host."""
    with ctx.scenario() as s, package_host(Body(b"x" * 1000)) as host:
        url = host.url(PACKAGE_PATH)
        smuggled = "C:\\Stackhold\\evil.exe"
        cases = [
            ("error page", Body("<html><head><title>500 Internal Server Error</title></head><body>"
                                "<h1>服务器内部错误</h1><p>ASP 0113 (0x80004005) 脚本超时</p></body></html>",
                                status=500, content_type="text/html; charset=gb2312")),
            ("no brackets", Body("下载地址：" + url, content_type="text/plain")),
            ("double quote", Body('[%s" -O "%s]' % (url, smuggled), content_type="text/plain")),
            # A package that would run through the command interpreter.
            ("a batch file", Body("[%s.cmd]" % url[:-len(".exe")], content_type="text/plain")),
        ]
        answer = [None]
        with service(lambda request: answer[0]) as svc:
            for i, (label, body) in enumerate(cases):
                answer[0] = body
                log("service answer: %s" % label)
                if i == 0:
                    start(s)
                else:
                    relaunch(s)
                under = expect_message(s, ADDRESS_FAILED)
                assert under.text("About1") == DOWNLOADING, (label, under.text("About1"))
                assert uris(svc) == [("GET", SERVICE_URI)] * (i + 1), (label, uris(svc))
                assert uris(host) == [], (label, uris(host))
                expect_nothing_fetched(s, label)
                assert not os.path.exists(s.c_path(smuggled)), label
                expect_no_tool(s)


def gbk_char(trail):
    """A Chinese character whose GBK form ends in the byte `trail`: read
    byte by byte, it would hold a bracket."""
    for cp in range(0x4E00, 0x9FA6):
        b = chr(cp).encode("gbk", errors="ignore")
        if len(b) == 2 and b[1] == trail:
            return chr(cp)
    raise HarnessError("no GBK character ends in 0x%02X" % trail)


def scenario_fault_gbk_answer(ctx):
    """The service answers in GBK with Chinese around the brackets, some of
    whose characters carry a bracket byte as their second byte: the address
    is cut out right and the installation goes on to its end."""
    with ctx.scenario() as s, InstallRig(ctx.build, os.path.join(s.workdir, "rig"), answers={}) as rig:
        fake_open, fake_close = gbk_char(0x5B), gbk_char(0x5D)
        url = rig.package_url(("2012", "1"))
        text = "您好%s，下载地址%s如下：[%s]（%s请勿外传）" % (fake_open, fake_close, url, fake_close)
        body = text.encode("gbk")
        assert body.count(b"[") == 2 and body.count(b"]") == 3, body  # the fixture shows the trap
        rig.nginx.set_service_answers({("2012", "1"): body})
        start(s)
        expect_success(s, timeout=40)
        assert [(r["method"], r["uri"]) for r in rig.requests()] == [
            ("GET", SERVICE_URI), ("HEAD", PACKAGE_PATH), ("GET", PACKAGE_PATH)], rig.requests()
        close_after_success(s)
        expect_no_tool(s)


# ---------------------------------------------------------------- the package host


def scenario_fault_no_length(ctx):
    """The package host answers HEAD without Content-Length: the size is 0,
    the tool still fetches the whole package, the progress shows no
    percentage and a size of 0 M, and the size check refuses the package."""
    with ctx.scenario() as s:
        _, data = signed_standin(ctx.build, s.workdir)
        # Slow enough for a few ticks of the progress monitor.
        with package_host(NoLength(data, rate=max(64 * 1024, len(data) // 3))) as host, \
                service(Body("[%s]" % host.url(PACKAGE_PATH))) as svc:
            start(s)
            under = expect_message(s, PACKAGE_WRONG)
            assert uris(svc) == [("GET", SERVICE_URI)], uris(svc)
            assert uris(host) == [("HEAD", PACKAGE_PATH), ("GET", PACKAGE_PATH)], uris(host)
            assert "Range" not in gets(host)[0].headers, gets(host)[0].headers
        assert under.text("About1") == DOWNLOADING, under.text("About1")
        status = under.text("About2")
        assert re.fullmatch(r"版本：%s，文件大小：0M，下载速度：-?\d+(\.\d)?[KM]/S" % re.escape(EDITION), status), status
        # The package arrived whole; it stays for the operator to judge.
        path = s.c_path(PACKAGES_DIR + "\\" + PACKAGE_NAME)
        assert os.path.exists(path), "the tool left no package"
        assert sha256(path) == sha256(data), "the package differs (%d of %d bytes)" % (
            os.path.getsize(path), len(data))
        expect_no_tool(s)


def scenario_fault_cuts(ctx):
    """The package host drops the connection three times in the middle of
    the body: the tool continues each time from where the file ends, the
    package arrives identical, and the installation goes on to its end."""
    cuts = [100000, 150000, 200000]  # bytes of each answer before the drop
    with ctx.scenario(env={"STACKHOLD_SETUP_SECONDS": "4"}) as s:
        _, data = signed_standin(ctx.build, s.workdir)
        assert sum(cuts) < len(data), "the package is smaller than the cuts"

        def answer(request):
            if request.method == "HEAD":
                return Body(data)
            n = len(gets(host)) - 1  # this request is recorded already
            return Cut(data, cuts[n], ranges=True) if n < len(cuts) else Body(data)

        with package_host(answer) as host, service(Body("[%s]" % host.url(PACKAGE_PATH))) as svc:
            start(s)
            s.driver.wait_text("About1", INSTALLING, timeout=45)
            # Setup (the stand-in) runs for 4 s with the package in place.
            path = s.c_path(PACKAGES_DIR + "\\" + PACKAGE_NAME)
            assert sha256(path) == sha256(data), "the package differs (%d of %d bytes)" % (
                os.path.getsize(path), len(data))
            ranges = [r.headers.get("Range") for r in gets(host)]
            offsets = [sum(cuts[:i]) for i in range(1, len(cuts) + 1)]
            assert ranges == [None] + ["bytes=%d-" % o for o in offsets], ranges
            assert uris(svc) == [("GET", SERVICE_URI)], uris(svc)
            assert [method for method, _ in uris(host)] == ["HEAD", "GET", "GET", "GET", "GET"], uris(host)
            expect_success(s, timeout=40)
        assert not os.path.exists(path), "the package was not deleted after the verified installation"
        close_after_success(s)
        expect_no_tool(s)


# ---------------------------------------------------------------- the tool and the disk


def scenario_fault_tool_killed(ctx):
    """The tool is killed from outside in the middle of the
    download: the size check fails with the package message and the partial
    file stays; the next run continues it from where it ends and installs."""
    with ctx.scenario() as s:
        source, data = signed_standin(ctx.build, s.workdir)
        path = s.c_path(PACKAGES_DIR + "\\" + PACKAGE_NAME)

        def answer(request):
            if request.method == "HEAD":
                return Body(data)
            # The first run's download takes long enough (some 14 s) for the
            # kill to come in the middle of it; the second one is quick.
            slow = len(gets(host)) == 1
            return File(source, rate=48 * 1024 if slow else None)

        with package_host(answer) as host, service(Body("[%s]" % host.url(PACKAGE_PATH))):
            start(s)
            d = s.driver
            # A slow link too grows the file on disk while the tool runs.
            wait_until(lambda: os.path.exists(path) and os.path.getsize(path) >= 64 * 1024, timeout=20,
                       what="the first 64 KiB of the package on disk")
            assert os.path.getsize(path) < len(data), \
                "the package was whole at the first look: it did not grow on disk while the tool ran"
            progress = d.wait_text("About1", "已下载 ", timeout=5)["text"]
            assert re.fullmatch(r"已下载 \d+(\.\d)?%", progress), progress
            tools = s.wine_pids("wget.exe")
            assert len(tools) == 1, "not one wget.exe running: %s" % tools
            # Ended abruptly, as by the task manager. (Wine 8's taskkill does
            # not find a 64-bit wget.exe by its name, so the kill comes from
            # the Linux side, to the process of this prefix.)
            os.kill(tools[0], signal.SIGKILL)
            under = expect_message(s, PACKAGE_WRONG)
            assert under.text("About1").startswith("已下载 "), under.text("About1")
            expect_no_tool(s)
            partial = read(path)
            assert 0 < len(partial) < len(data), "the partial package holds %d of %d bytes" % (
                len(partial), len(data))
            assert data.startswith(partial), "the partial package is not the start of the package"
            assert len(gets(host)) == 1, uris(host)

            # The next run asks only for the rest and installs.
            relaunch(s)
            expect_success(s, timeout=40)
            second = gets(host)[1:]
            assert [r.headers.get("Range") for r in second] == ["bytes=%d-" % len(partial)], \
                [(r.method, r.headers.get("Range")) for r in second]
        close_after_success(s)
        expect_no_tool(s)


def scenario_fault_disk_full(ctx):
    """The program (and so the package folder) lies on a drive of 8 MiB and
    the package is 16 MiB: the tool fails on the full drive after one try,
    the size check shows the package message, and what was written stays."""
    with Mounts(ctx.build, ctx.name) as mounts:
        folder = mounts.tmpfs("d", free_mib=8)  # skips the scenario where mounting is refused
        program_dir = "D:\\Stackhold"
        with ctx.scenario(drives={"d:": folder}, program_dir=program_dir) as s:
            data = os.urandom(16 * MIB)
            with package_host(Body(data)) as host, service(Body("[%s]" % host.url(PACKAGE_PATH))):
                # The drive is far below the 5 GB an installation directory needs.
                start(s, install_dir="C:\\Stackhold\\SQL Server")
                under = expect_message(s, PACKAGE_WRONG, timeout=60)
                shown = under.text("About1")
                m = re.fullmatch(r"已下载 (\d+(?:\.\d)?)%", shown)
                assert shown == DOWNLOADING or (m and float(m.group(1)) < 100), shown
                assert [method for method, _ in uris(host)] == ["HEAD", "GET"], uris(host)
            expect_no_tool(s)
            path = s.c_path(program_dir + "\\packages\\" + PACKAGE_NAME)
            assert os.path.exists(path), "no partial package on the full drive"
            partial = read(path)
            assert 0 < len(partial) < 8 * MIB, "the package on the full drive holds %d bytes" % len(partial)
            assert data.startswith(partial), "the partial package is not the start of the package"
            free = shutil.disk_usage(folder).free
            log("the full drive holds %d bytes of the package, %d bytes free" % (len(partial), free))
            assert free < 2 * MIB, "the drive still had %d bytes free" % free
