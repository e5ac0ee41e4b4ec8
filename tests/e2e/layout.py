"""The window's layout as the scenarios check it: places in twips, colours,
start texts. Pixel places follow from the DPI the window reports."""

import re

from harness import brighter_than, px_rect

APP_TITLE = "Corvane·Stackhold"
CLIENT_TWIPS = (8055, 5085)

BANNER_BLUE = (14, 140, 220)
BAR_BLUE = (34, 157, 235)
BAR_GREY = (232, 232, 232)
BACKGROUND = (244, 247, 252)
LABEL3_COLOUR = (0, 192, 192)
STEP_DONE = (16, 141, 220)

PLACES = {  # left, top, width, height in twips
    "Picture1": (0, 0, 8055, 2655),
    "Label3": (120, 120, 735, 255),
    "Label1": (2930, 1680, 3855, 375),
    "About1": (2935, 3280, 2190, 300),
    "Image1": (2900, 3040, 2250, 705),
    "Step1_Img": (560, 4400, 1560, 90),
    "Step2_Img": (2270, 4400, 1560, 90),
    "Step3_Img": (3980, 4400, 1560, 90),
    "Step4_Img": (5690, 4400, 1560, 90),
    "Step5_Img": (7400, 4400, 90, 90),
}

START_TEXTS = {
    "Label1": "一键安装SQL Server数据库",
    "Step1_Name": "1.环境检测",
    "Step2_Name": "2.版本选择",
    "Step3_Name": "3.下载软件",
    "Step4_Name": "4.安装软件",
    "Step5_Name": "5.完成安装",
}

EDITIONS = [
    "SQL Server 2008 R2 Express (32位)",
    "SQL Server 2008 R2 Express (64位)",
    "SQL Server 2012 Express (32位)",
    "SQL Server 2012 Express (64位)",
]

SETTINGS_PAGE = {
    "Step2_T1": "版本选择：",
    "Step2_T2": "安装目录：",
    "Step2_Select": "浏览...",
    "Step2_Submit": "立即安装",
}


def place(name, dpi):
    """(left, top, right, bottom) in client pixels at `dpi`."""
    return px_rect(*PLACES[name], dpi=dpi)


def inset(rect, by=1):
    l, t, r, b = rect
    return (l + by, t + by, r - by, b - by)


def elapsed(text):
    """The seconds shown by Label3 ("12s" -> 12); None for anything else."""
    m = re.fullmatch(r"(\d+)s", text or "")
    return int(m.group(1)) if m else None


def label1_glyphs(img, dpi):
    """The ink runs of the white title line "一键安装SQL Server数据库" on the
    banner, left to right."""
    region = img.crop(*place("Label1", dpi))
    # White text on the blue banner: ink is whatever is clearly lighter
    # than the banner in every channel; half-blended edge pixels count.
    return region.glyphs(brighter_than(120))
