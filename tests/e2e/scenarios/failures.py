"""A failed installation says why: one run per way SQL Server setup fails,
with the stand-in setup failing as setup does (its summary log in setup's
layout and encoding, setup's exit codes, a service that runs or not).

For each: the box reads the apology, a blank line, the cause and the
summary's full path; after OK, Notepad runs on that summary; the package is
kept whole; no notes file; the program has ended. Where setup reports the
database installed (3010) the box keeps the sa password. A service that is
registered but not running is never connected to, even when a provider
would accept the connection.
"""

import os

from checks import FAILED_BOX, NOTES, PACKAGE, PACKAGE_KEY, expect_box, record, submit_defaults
from harness import InstallRig, wait_until

SUMMARY = "C:\\Program Files\\Microsoft SQL Server\\110\\Setup Bootstrap\\Log\\Summary.txt"


def notepad_on(s, path):
    """Whether a Notepad of this scenario's prefix was started on `path`
    (Wine shows a Windows program's command line as its arguments)."""
    for pid in s.wine_pids("notepad.exe"):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                args = f.read().decode("utf-8", "replace")
        except OSError:
            continue
        if path.lower() in args.lower():
            return True
    return False


def failed_run(ctx, mode, cause, summary=SUMMARY, password=False, env=None):
    """Runs the defaults with the stand-in setup in `mode`; checks the box
    (apology, blank line, the parts of `cause` in order, the summary path),
    Notepad on the summary, the package kept, no notes file and the end.
    Returns the scenario's record of the run for further checks."""
    settings = {"STACKHOLD_SETUP_MODE": mode, "STACKHOLD_SETUP_SECONDS": "0.5"}
    settings.update(env or {})
    with ctx.scenario(env=settings) as s, InstallRig(ctx.build, os.path.join(s.workdir, "rig")) as rig:
        s.launch()
        submit_defaults(s)
        d = s.driver
        # The apology as it always stood, then a blank line.
        head = FAILED_BOX + "\n\n"
        text = expect_box(s, head, timeout=60, prefix=True)["text"].replace("\r\n", "\n")
        at = len(head)
        for part in cause:
            found = text.find(part, at)
            assert found >= 0, "the box lacks %r (after %d): %r" % (part, at, text)
            at = found + len(part)
        if summary:
            assert text.endswith("\n" + summary), "the box does not end with the summary's path: %r" % text
            assert os.path.exists(s.c_path(summary)), "the summary named is not there"
        else:
            assert "Summary" not in text, text
        assert ("SA密码：" in text) == password, "the password is%s in the box: %r" % (
            "" if password else " not", text)
        assert d.texts().text("About1") == "数据库安装失败"

        d.press("ok")
        code = s.wait_exit(10)
        assert code is not None, "the program runs on after its failure message"
        assert code != 0, "a failed installation ends with exit status 0"
        if summary:
            wait_until(lambda: notepad_on(s, summary), 20, what="Notepad on the summary")
        else:
            assert not s.wine_pids("notepad.exe"), "Notepad started without a summary"

        want = os.path.getsize(rig.package_path(PACKAGE_KEY))
        got = os.path.getsize(s.c_path(PACKAGE)) if os.path.exists(s.c_path(PACKAGE)) else -1
        assert got == want, "the package is not kept whole (%d of %d bytes)" % (got, want)
        assert not os.path.exists(os.path.join(s.desktop(), NOTES)), "a notes file was written"
        assert not os.path.exists(s.c_path("C:\\Stackhold\\fx35.bat")), "fx35.bat is left behind"
        return {"setup": record(s, "setup.txt"), "oledb": record(s, "oledb.txt"), "text": text}


def scenario_failure_restart_pending(ctx):
    """Setup's restart rule refuses to run."""
    failed_run(ctx, "restart", ["重启", "RebootRequiredCheck", "请重启服务器，然后重新运行本程序"])


def scenario_failure_netfx(ctx):
    """DISM could not turn .NET Framework 3.5 on (no source), and setup fails
    enabling it itself."""
    failed_run(ctx, "netfx", ["无法启用.NET Framework 3.5", "sources\\sxs", "重新运行本程序"],
               env={"STACKHOLD_DISM_NETFX": "fail"})


def scenario_failure_instance_exists(ctx):
    """An instance's leftovers: setup installs no feature."""
    failed_run(ctx, "exists", ["已有SQL Server实例或其残留", "程序和功能"])


def scenario_failure_service_not_started(ctx):
    """The service is installed but does not run, while the stand-in
    provider would accept a connection (the service is registered and the
    marker written): no connection is tried, the failure names the service,
    the summary and the instance's error log."""
    run = failed_run(ctx, "nostart", ["MSSQLSERVER已安装，但没有启动",
                                      "C:\\Stackhold\\SQL Server\\MSSQL11.MSSQLSERVER\\MSSQL\\Log\\ERRORLOG"])
    assert run["setup"][-1] == "result: failed: the service did not start", run["setup"]
    assert run["oledb"] is None, "a connection was tried with the service stopped: %r" % run["oledb"]


def scenario_failure_unpack(ctx):
    """Setup ends before it writes any summary (the disk is full while it
    unpacks): the exit code, the package kept for the next run."""
    failed_run(ctx, "unpack", ["未能启动或解压", "退出代码112", "磁盘空间不足", "安装包已保留"], summary=None)


def scenario_failure_unsupported_system(ctx):
    """The operating-system rule fails: choose the other version."""
    failed_run(ctx, "os", ["不支持本机的操作系统", "选择另一个版本"])


def scenario_failure_other(ctx):
    """Anything else: setup's own message and exit code, as it stands; the
    summary is written as ANSI here."""
    failed_run(ctx, "other", ["The given key was not present in the dictionary.", "退出代码-2146232969，0x80131577"],
               env={"STACKHOLD_SETUP_SUMMARY_ENCODING": "ansi"})


def scenario_failure_garbled_summary(ctx):
    """An empty summary: "anything else" with its path and setup's code."""
    failed_run(ctx, "garbled", ["无法读取", "退出代码：-2068643839"])


def scenario_failure_restart_3010(ctx):
    """Setup reports the database installed but asks for a restart (3010);
    the service does not run until then. The box keeps the sa password,
    and no notes file claims a verified installation."""
    run = failed_run(ctx, "reboot3010", ["报告数据库已安装", "要求重启服务器", "请重启服务器", "SA账户"],
                     password=True, env={"STACKHOLD_SETUP_SUMMARY_ENCODING": "utf8"})
    password = [l for l in run["setup"] if l.startswith("/SAPWD=")][0][len("/SAPWD="):]
    assert "SA密码：" + password + "\n" in run["text"], run["text"]
