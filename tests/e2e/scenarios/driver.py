"""The driver and the harness on a window whose behaviour is known exactly
(tests/e2e/driver/probe_window.cpp), so a fault in them is not mistaken for
one of the installer."""

from layout import APP_TITLE, EDITIONS, elapsed


def scenario_driver(ctx):
    with ctx.scenario(with_wget=False) as s:
        seen = s.launch(program=ctx.build.fixture("probe_window.exe"))
        d = s.driver
        assert seen["caption"] == APP_TITLE, seen

        # Texts, the combo's items and its selection, all through UTF-8.
        t = d.texts()
        assert t.text("About1") == "准备就绪", t.control("About1")
        combo = t.control("Step2_Version")
        assert combo["items"] == EDITIONS and combo["sel"] == 3, combo
        assert t.visible("Step2_Version") and not t.visible("Step2_T1")
        l, top, r, b = t.rect("Step2_Submit")
        assert (r - l, b - top) == (73, 25), t.rect("Step2_Submit")  # 1095 × 375 twips at 96 dpi

        # A timer-driven text is waited for, not polled by the scenario.
        first = elapsed(d.wait_text("Label3", "2s", timeout=5)["text"])
        assert first == 2

        # A hidden control cannot be clicked, as no operator could.
        refused = d.click("Step2_T1", check=False)
        assert not refused["ok"] and refused["error"] == "hidden", refused

        # settext + select (with its notification) + click reach the window.
        d.settext("Step2_Path", "D:\\数据 目录\\SQL Server")
        d.select("Step2_Version", 1)
        d.click("Step2_Submit")
        got = d.wait_text("About1", "|", timeout=5)["text"]
        assert got == "1|D:\\数据 目录\\SQL Server", got

        # No dialog yet; a label click opens one; No keeps the window.
        none = d.msgbox(timeout=0, check=False)
        assert not none["ok"] and none["error"] == "none", none
        d.click("Label_Close")
        box = d.msgbox(timeout=5)
        assert box["title"] == APP_TITLE and box["text"] == "确定结束安装吗？", box
        assert sorted(b["id"] for b in box["buttons"]) == [6, 7], box  # IDYES, IDNO
        d.press("no")
        d.wait_text("About1", "继续", timeout=5)
        assert s.running()

        # Yes ends the process with the code the window chose.
        d.click("Label_Close")
        d.msgbox(timeout=5)
        d.press("yes")
        assert s.wait_exit(10) == 3
