"""A whole installation with the defaults, against nginx and the stand-ins:
what reaches the service, the package host, DISM and setup, what the
window shows at the end, and what is left on the machine."""

import os

from checks import NOTES, check_bars, expect_success, submit_defaults
from harness import InstallRig
from layout import BAR_BLUE, place

PASSWORD_LEAD = "恭喜，数据库安装成功，SA密码："


def expected_setup_line(package, data_dir, password):
    return ('"%s" /Q /ACTION=Install /FEATURES=SQL,Tools /INSTANCENAME=MSSQLSERVER /INSTALLSQLDATADIR="%s"'
            '  /SECURITYMODE="SQL" /SQLSVCACCOUNT="NT AUTHORITY\\SYSTEM" /SAPWD="%s"'
            ' /SQLSYSADMINACCOUNTS="BUILTIN\\ADMINISTRATORS" /ENABLERANU=1 /AGTSVCACCOUNT="NT AUTHORITY\\SYSTEM"'
            ' /TCPENABLED=1 /ERRORREPORTING=1 /IACCEPTSQLSERVERLICENSETERMS' % (package, data_dir, password))


def read_record(s, name):
    path = s.c_path("C:\\stackhold-record\\" + name)
    assert os.path.exists(path), "no %s: the stand-in did not run" % name
    with open(path, "rb") as f:
        return f.read().decode("utf-8").split("\r\n")


def scenario_install(ctx):
    with ctx.scenario() as s, InstallRig(ctx.build, os.path.join(s.workdir, "rig")) as rig:
        s.launch()
        d = s.driver
        submit_defaults(s)
        expect_success(s)

        t = d.texts()
        status = t.text("About2")
        assert status.startswith(PASSWORD_LEAD), status
        password = status[len(PASSWORD_LEAD):]
        assert len(password) == 20 and '"' not in password and " " not in password, password
        assert t["topmost"], "the window is not topmost after a verified installation"

        # The service was asked once, with the keys in their order; the
        # package host was asked for the size, then the package.
        uris = [(r["method"], r["uri"]) for r in rig.requests()]
        assert uris == [("GET", "/api/sqlserver.asp?version=2012&x64=1"),
                        ("HEAD", "/2012/SQLEXPR_x64_CHS.exe"),
                        ("GET", "/2012/SQLEXPR_x64_CHS.exe")], uris

        # DISM ran once, then setup with the command line to the byte.
        dism = [l for l in read_record(s, "dism.txt") if l]
        assert len(dism) == 1, dism
        setup = read_record(s, "setup.txt")
        want = expected_setup_line("C:\\Stackhold\\packages\\SQLEXPR_x64_CHS.exe", "C:\\Stackhold\\SQL Server",
                                   password)
        assert setup[0] == "commandline: " + want, setup[0]
        assert "result: installed" in setup, setup
        # The one test connection handed the provider the connection
        # string's properties (Wine's oledb32 files "Initial Catalog" under
        # id 22, DBPROP_CATALOGLOCATION, instead of DBPROP_INIT_CATALOG).
        oledb = [l for l in read_record(s, "oledb.txt") if l]
        for want in ("DBINIT\tDBPROP_AUTH_INTEGRATED\tSSPI", "DBINIT\tDBPROP_INIT_DATASOURCE\t(local)",
                     "DBINIT\tDBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO\tfalse", "DBINIT\t22\tmaster"):
            assert oledb.count(want) == 1, (want, oledb)

        # What is left: the data directory, the packages folder without the
        # package, and the notes file in the system code page.
        assert os.path.isdir(s.c_path("C:\\Stackhold\\SQL Server"))
        assert os.path.isdir(s.c_path("C:\\Stackhold\\packages"))
        assert not os.path.exists(s.c_path("C:\\Stackhold\\packages\\SQLEXPR_x64_CHS.exe")), \
            "the package was not deleted after the verified installation"
        notes_path = os.path.join(s.desktop(), NOTES)
        assert os.path.exists(notes_path), "no notes file on the desktop"
        with open(notes_path, "rb") as f:
            raw = f.read()
        lines = raw.decode("gbk").split("\r\n")
        assert len(lines) == 21 and not raw.endswith(b"\r\n"), lines
        assert lines[10] == "管理密码：%s  （此密码随机生成）" % password, lines[10]
        assert lines[12] == "安装目录：C:\\Stackhold\\SQL Server", lines[12]

        img, t = s.window_image("installed")
        check_bars(img, t["dpi"], started=4)
        dot = img.crop(*place("Step5_Img", t["dpi"]))
        assert dot.count(BAR_BLUE, 16) >= 4, "the step-5 dot is not blue"

        # After step 5 the close mark ends the program at once, without a question.
        d.click("Label_Close")
        assert s.wait_exit(10) is not None, "still running after Label_Close in step 5"


def scenario_install_package_held(ctx):
    """While DISM runs, another program tries to change the verified
    package: to write into it, copy or rename another program over it and
    delete it. Every attempt fails, and the setup that starts is the package
    that was verified."""
    env = {"STACKHOLD_DISM_TAMPER": "C:\\Stackhold\\packages"}
    with ctx.scenario(env=env) as s, InstallRig(ctx.build, os.path.join(s.workdir, "rig")) as rig:
        s.launch()
        submit_defaults(s)
        expect_success(s)
        tamper = [l for l in read_record(s, "dism_tamper.txt") if l]
        assert tamper == ["SQLEXPR_x64_CHS.exe\twrite:refused\tcopy:refused\trename:refused\tdelete:refused"], tamper
        # The stand-in DISM ran once: no copy of it ran as setup.
        dism = [l for l in read_record(s, "dism.txt") if l]
        assert len(dism) == 1, dism
        setup = read_record(s, "setup.txt")
        assert setup[0].startswith('commandline: "C:\\Stackhold\\packages\\SQLEXPR_x64_CHS.exe" /Q '), setup[0]
        assert "result: installed" in setup, setup
        # Afterwards the package goes as after every verified installation.
        assert not os.path.exists(s.c_path("C:\\Stackhold\\packages\\SQLEXPR_x64_CHS.exe"))
