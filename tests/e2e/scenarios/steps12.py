"""Step 1 (the five gates) and step 2 (the settings page) of the real program.

Each gate is made to fail on its own machine (prefix): the program shows its
message, waits for OK and then ends; where the later wget gate is made to
fail too, only the earlier gate's message may come, which shows the order.
The passing side of the boundaries (Windows 10, exactly 5120 MiB free on C:,
a service of another name) reaches the settings page.

On the settings page the driver types into the directory box, presses
"立即安装" and reads each refusal; the page stays as it was. A good choice
hides the page and begins step 3, which asks the download-address service
(nginx on the service port, answering without an address), so the program
then ends with the address message.
"""

import os
import socket
import struct
import time

from harness import Nginx, ensure_pki, log, run_wine, wait_until
from harness.mounts import Mounts, free_bytes
from harness.util import Skip
from checks import ADDRESS_FAILED, DOWNLOADING, check_bars, expect_box
from layout import EDITIONS

GATE_VERSION = "非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[60]。"
GATE_PORT = "非常抱歉，1433端口已被使用。"
GATE_SERVICE = "非常抱歉，MSSQLSERVER服务已经存在。"
GATE_DISK = "非常抱歉，C盘剩余空间必须大于5G。"
GATE_WGET = "Wget.exe不存在，请重新下载系统。"
GATE_UNSAFE = ("非常抱歉，程序所在的文件夹不安全，其他用户可以改动它或其中的程序。"
               "请把压缩包解压到C:\\Program Files下的文件夹（例如C:\\Program Files\\Stackhold）后再运行。")
DIR_REFUSED = "安装目录错误，请重新选择。"
DRIVE_FULL = "盘剩余空间必须大于5G，请重新选择。"  # after the drive letter as typed

CHECKING = "正在检测环境"
EDITION_LEAD = "数据库版本："
SETTINGS_CONTROLS = ("Step2_T1", "Step2_Version", "Step2_Submit", "Step2_T2", "Step2_Path", "Step2_Select")
FAILURE_EXIT = 1  # how the program ends after a fatal message


# ------------------------------------------------------------ shared checks


def dismiss(s, box, timeout=5):
    """Presses OK on `box` and waits until that box has closed."""
    s.driver.press("ok")
    wait_until(lambda: s.driver.msgbox(timeout=0, check=False).get("hwnd") != box["hwnd"], timeout,
               what="the message box to close")


def ends_after_ok(s):
    """The program waits on its message until OK is pressed, then ends."""
    time.sleep(0.3)
    assert s.running(), "the program ended before OK was pressed"
    s.driver.press("ok")
    code = s.wait_exit(10)
    assert code is not None, "the program runs on after OK"
    assert code == FAILURE_EXIT, "exit status %r after the message" % code


def refused_by_gate(s, expected):
    """Step 1 stops at `expected`: still checking, no settings page, and the
    program ends after OK."""
    expect_box(s, expected)
    t = s.driver.texts()
    assert t.text("About1") == CHECKING and t.visible("About1"), t.control("About1")
    shown = [name for name in SETTINGS_CONTROLS if t.visible(name)]
    assert not shown, "settings controls shown behind the step-1 message: %s" % shown
    ends_after_ok(s)


def settings_page_opens(s, timeout=20):
    """Every gate passed: the settings page with its defaults, no message."""
    d = s.driver
    shown = d.wait_visible("Step2_Submit", True, timeout=timeout, check=False)
    if not shown["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("no settings page after step 1: %s" % (box.get("text") if box["ok"] else shown))
    t = d.texts()
    page_is_shown(t)
    combo = t.control("Step2_Version")
    assert combo["items"] == EDITIONS and combo["sel"] == 3, combo
    assert t.text("Step2_Path") == s.program_dir + "\\SQL Server", t.text("Step2_Path")
    none = d.msgbox(timeout=0, check=False)
    assert not none["ok"], "a message beside the settings page: %r" % none.get("text")
    return t


def page_is_shown(t):
    hidden = [name for name in SETTINGS_CONTROLS if not t.visible(name)]
    assert not hidden, "settings controls hidden: %s" % hidden
    for status in ("About1", "About2"):
        assert not t.visible(status), "%s shown on the settings page" % status


def submit(s, box_text, expected):
    """Types `box_text` (None: leaves the box as it is), presses "立即安装"
    and reads the refusal `expected`; after OK the page is unchanged."""
    d = s.driver
    if box_text is not None:
        d.settext("Step2_Path", box_text)
    before = d.texts()
    if box_text is not None:
        assert before.text("Step2_Path") == box_text, before.text("Step2_Path")
    d.click("Step2_Submit")
    dismiss(s, expect_box(s, expected))
    time.sleep(0.3)
    assert s.running(), "the program ended after the refusal %r" % expected
    after = d.texts()
    page_is_shown(after)
    assert after.text("Step2_Path") == before.text("Step2_Path"), \
        "the box changed from %r to %r" % (before.text("Step2_Path"), after.text("Step2_Path"))
    assert after.control("Step2_Version")["sel"] == before.control("Step2_Version")["sel"]
    again = d.msgbox(timeout=0, check=False)
    assert not again["ok"], "a second message after the refusal: %r" % again.get("text")


def blue_ink(img, rect):
    """Pixels of RGB(16,141,220) text or its blend with the light background."""
    return sum(1 for r, g, b in img.crop(*rect).pixels() if b - r > 50 and b > 150)


def step3_begun(s, edition_index, service):
    """After a good submission: page hidden, status lines back, step 3 asked
    the service for the edition; it answered no address, so the program ends
    with the address message."""
    expect_box(s, ADDRESS_FAILED, timeout=30)
    t = s.driver.texts()
    shown = [name for name in SETTINGS_CONTROLS if t.visible(name)]
    assert not shown, "settings controls still shown in step 3: %s" % shown
    assert t.visible("About1") and t.visible("About2")
    assert t.text("About1") == DOWNLOADING, t.text("About1")
    assert t.text("About2") == EDITION_LEAD + EDITIONS[edition_index], t.text("About2")
    # The indicator: bars 1 to 3 blue, step 2's label in the finished colour
    # (the message box lies above the middle of the window, not over them).
    img, t = s.window_image("step3", t)
    check_bars(img, t["dpi"], started=3)
    for name, done in (("Step2_Name", True), ("Step3_Name", False)):
        ink = blue_ink(img, t.rect(name))
        assert (ink >= 10) == done, "%s has %d pixels of the finished colour" % (name, ink)
    version, x64 = [("2008", "0"), ("2008", "1"), ("2012", "0"), ("2012", "1")][edition_index]
    asked = [(r["method"], r["uri"]) for r in service.requests()]
    assert asked == [("GET", "/api/sqlserver.asp?version=%s&x64=%s" % (version, x64))], asked
    ends_after_ok(s)


def service_without_address(s):
    """The download-address service on its port, answering without brackets."""
    return Nginx(ensure_pki(), service_answers={"default": "没有可用的下载地址"},
                 workdir=os.path.join(s.workdir, "nginx"))


def link_drive(s, letter, folder):
    """Makes a Linux folder the drive `letter` of the scenario's prefix."""
    link = os.path.join(s.prefix, "dosdevices", letter.lower() + ":")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(folder, link)


# ------------------------------------------------------------ step 1


def scenario_gate_version(ctx):
    # Windows Vista / Server 2008 (6.0) is refused with 60 in the brackets;
    # without wget.exe as well, the version gate still speaks first.
    with ctx.scenario("vista", windows_version="vista", with_wget=False) as s:
        s.launch()
        refused_by_gate(s, GATE_VERSION)
    # 10.0 reads as 100, which passes the numeric test.
    with ctx.scenario("win10", windows_version="win10") as s:
        s.launch()
        settings_page_opens(s)
    # Windows 8.1 (63) passes too, although it tells a program without the
    # right manifest that it is 6.2.
    with ctx.scenario("win81", windows_version="win81") as s:
        s.launch()
        settings_page_opens(s)


def listen_on_1433():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind(("127.0.0.1", 1433))
        listener.listen(1)
    except OSError as e:
        listener.close()
        raise Skip("port 1433 is taken on this machine (%s)" % e) from None
    return listener


def connection_from_1433():
    """A connection whose local end is port 1433, with no listener on 1433:
    an established client socket and the server socket it reached."""
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    client = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    client.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        client.bind(("127.0.0.1", 1433))
    except OSError as e:
        client.close()
        server.close()
        raise Skip("port 1433 is taken on this machine (%s)" % e) from None
    # Closed with a reset, not a handshake: a closing socket would hold
    # 127.0.0.1:1433 in TIME_WAIT for a minute, refusing every run here.
    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    client.connect(server.getsockname())
    accepted, _ = server.accept()
    return [client, accepted, server]


def scenario_gate_port(ctx):
    # The sockets live only while the program runs its step 1: other runs on
    # this machine meet the same gate.
    for label, make in (("listener", lambda: [listen_on_1433()]), ("connection", connection_from_1433)):
        with ctx.scenario(label, with_wget=False) as s:
            sockets = make()
            try:
                s.launch()
                expect_box(s, GATE_PORT)
            finally:
                for sock in sockets:
                    sock.close()
            s.driver.press("ok")
            code = s.wait_exit(10)
            assert code == FAILURE_EXIT, "exit status %r after the port message" % code


def create_service(s, name):
    run_wine(s.prefix, ["sc", "create", name, "binpath=", "C:\\windows\\system32\\svchost.exe"], timeout=60)


def scenario_gate_service(ctx):
    # A named instance's service is not the default instance: it passes.
    with ctx.scenario("named") as s:
        create_service(s, "MSSQL$SQLEXPRESS")
        s.launch()
        settings_page_opens(s)
    # The default instance's service refuses the machine (before the wget gate).
    with ctx.scenario("default", with_wget=False) as s:
        create_service(s, "MSSQLSERVER")
        s.launch()
        refused_by_gate(s, GATE_SERVICE)


def scenario_gate_disk(ctx):
    # C: is the prefix's drive_c seen through an overlay whose free space is
    # a tmpfs's: 5119 MiB is refused (before the wget gate), exactly 5120
    # MiB passes.
    for free, passes in ((5119, False), (5120, True)):
        with Mounts(ctx.build, "%s-%d" % (ctx.name, free)) as mounts, \
                ctx.scenario("c%d" % free, with_wget=passes) as s:
            # The program file is copied in at launch: its room is added.
            drive_c = mounts.overlay("c", os.path.join(s.prefix, "drive_c"), free_mib=free,
                                     reserve=os.path.getsize(ctx.build.stackhold))
            link_drive(s, "c", drive_c)
            s.program_path = os.path.join(drive_c, s.program_dir[3:].replace("\\", "/"))
            s.launch()
            log("C: has %.3f MiB free with the program running" % (free_bytes(drive_c) / 1048576))
            if passes:
                settings_page_opens(s)
            else:
                refused_by_gate(s, GATE_DISK)


def scenario_gate_wget(ctx):
    with ctx.scenario(with_wget=False) as s:
        assert not os.path.exists(os.path.join(s.program_path, "wget.exe"))
        s.launch()
        refused_by_gate(s, GATE_WGET)


def scenario_gate_unsafe_folder(ctx):
    # What this Wine shows of a folder others can change: mode o+w reads
    # back as Everyone may write, a Unix owner not ours as owner Anonymous.
    # Either refuses the machine after the five other gates.
    for case in ("writable-folder", "foreign-wget"):
        with ctx.scenario(case) as s:
            if case == "writable-folder":
                os.chmod(s.program_path, 0o777)
            else:
                os.chown(os.path.join(s.program_path, "wget.exe"), 65534, -1)
            s.launch()
            refused_by_gate(s, GATE_UNSAFE)


# ------------------------------------------------------------ step 2


def cancel_chooser(s):
    """Opens the folder chooser with "浏览...", checks it, and cancels it."""
    d = s.driver
    d.click("Step2_Select")
    chooser = d.msgbox(timeout=15, check=False)
    assert chooser["ok"], "no folder chooser after 浏览..."
    assert "请选择文件夹" in chooser["statics"], "chooser without its title: %r" % chooser["statics"]
    # No owner: the wizard window stays usable while the chooser is open.
    assert not chooser["owned_by_main"], "the chooser is owned by the wizard window"
    assert d.texts().visible("Step2_Submit")
    d.press("cancel")
    d.wait_text("Step2_Path", "\\SQL Server", timeout=10)
    box = d.msgbox(timeout=0, check=False)
    assert not box["ok"], "a dialog is still open after cancelling the chooser: %r" % box


def scenario_settings_refusals(ctx):
    with ctx.scenario() as s:
        drive_c = s.c_path("C:\\")
        with open(os.path.join(drive_c, "Blocked"), "w") as f:
            f.write("a file where a folder is wanted\n")
        # A folder someone else made first (its Unix owner not ours reads
        # back as owner Anonymous).
        os.makedirs(os.path.join(drive_c, "Foreign"))
        os.chown(os.path.join(drive_c, "Foreign"), 65534, -1)
        assert not os.path.lexists(os.path.join(s.prefix, "dosdevices", "q:"))
        s.launch()
        d = s.driver
        settings_page_opens(s)
        # The 32-bit 2008 R2 edition, kept through every refusal.
        d.select("Step2_Version", 0)

        # A cancelled chooser leaves "\SQL Server", whatever the box held.
        log("the chooser")
        cancel_chooser(s)
        assert d.texts().text("Step2_Path") == "\\SQL Server"
        submit(s, None, DIR_REFUSED)

        before = set(os.listdir(drive_c))
        cases = [
            # no colon at all
            "\\\\127.0.0.1\\share\\SQL Server",
            # a level with a colon: C:\Partial is made, then the colon level refused
            "C:\\Partial\\SQL:Server",
            # a drive that does not exist
            "Q:\\SQL Server",
        ]
        for text in cases:
            log("submitting %s" % text)
            submit(s, text, DIR_REFUSED)
        # A level that is there but cannot be trusted: named, and why.
        for text, expected in (
                ("C:\\Blocked\\SQL Server", "安装目录中的“C:\\Blocked”不是文件夹，请重新选择。"),
                ("C:\\Foreign\\SQL Server",
                 "安装目录中的“C:\\Foreign”不属于管理员、SYSTEM或当前账户，其他用户可能改动它，请重新选择。")):
            log("submitting %s" % text)
            submit(s, text, expected)
        assert os.listdir(os.path.join(drive_c, "Foreign")) == [], "something was made in C:\\Foreign"
        log("refusals done")
        made = set(os.listdir(drive_c)) - before
        assert made == {"Partial"}, "new entries on C: after the refusals: %s" % sorted(made)
        assert os.listdir(os.path.join(drive_c, "Partial")) == [], "something was made in C:\\Partial"
        assert os.path.isfile(os.path.join(drive_c, "Blocked"))

        # A good directory with a blank in it: made level by level, the
        # page gives way to step 3.
        with service_without_address(s) as service:
            log("submitting the good directory (service up)")
            d.settext("Step2_Path", "C:\\Data\\SQL Server")
            d.click("Step2_Submit")
            step3_begun(s, 0, service)
        assert os.path.isdir(s.c_path("C:\\Data\\SQL Server"))
        # Both levels made with the protected DACL, which leaves "other"
        # no mode bits here (a folder made plainly would have r-x).
        for level in ("C:\\Data", "C:\\Data\\SQL Server"):
            mode = os.stat(s.c_path(level)).st_mode & 0o777
            assert mode & 0o007 == 0, "%s made with mode %o" % (level, mode)


def scenario_settings_drive_space(ctx):
    # D: has 5119 MiB free, E: exactly 5120 MiB (folders take no room on a
    # tmpfs, so making the directory changes neither).
    with Mounts(ctx.build, ctx.name) as mounts, ctx.scenario() as s:
        low = mounts.tmpfs("d", free_mib=5119)
        enough = mounts.tmpfs("e", free_mib=5120)
        link_drive(s, "d", low)
        link_drive(s, "e", enough)
        s.launch()
        settings_page_opens(s)

        # Refused after the whole directory is made; the message names the
        # drive as typed.
        submit(s, "D:\\Data\\SQL Server", "D" + DRIVE_FULL)
        submit(s, "d:/Other/", "d" + DRIVE_FULL)
        made = sorted(os.listdir(low))
        assert made == ["Data", "Other"], "on D: after the refusals: %s" % made
        assert os.listdir(os.path.join(low, "Data")) == ["SQL Server"]

        with service_without_address(s) as service:
            s.driver.settext("Step2_Path", "E:\\SQL Server")
            s.driver.click("Step2_Submit")
            step3_begun(s, 3, service)
        assert os.listdir(enough) == ["SQL Server"]
        log("drive space: D: refused at 5119 MiB, E: accepted at 5120 MiB")
