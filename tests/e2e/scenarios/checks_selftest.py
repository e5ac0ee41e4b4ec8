"""The screen checks themselves, on drawn pictures whose answer is known:
a check that cannot fail would prove nothing about the window."""

from checks import title_glyph_problem, without_32bit_drawing
from harness import Image, px_of
from layout import BANNER_BLUE, place

WHITE = (255, 255, 255)


def banner_with(shapes, dpi=96):
    """A client area of banner blue with white rectangles (left, top, w, h)
    drawn relative to the title line's place."""
    w, h = px_of(8055, dpi), px_of(5085, dpi)
    px = [list(BANNER_BLUE) for _ in range(w * h)]
    ox, oy = place("Label1", dpi)[:2]
    for left, top, width, height, filled in shapes:
        for y in range(top, top + height):
            for x in range(left, left + width):
                edge = y in (top, top + height - 1) or x in (left, left + width - 1)
                if filled or edge:
                    px[(oy + y) * w + ox + x] = list(WHITE)
    return Image(w, h, bytes(v for p in px for v in p))


@without_32bit_drawing
def scenario_checks(ctx):
    # What a missing glyph gives: the same hollow box for every character.
    boxes = [(1 + 15 * i, 1, 12, 14, False) for i in range(8)]
    assert title_glyph_problem(banner_with(boxes), 96) is not None

    # Real glyphs: a flat "一" first, then full-height characters.
    glyphs = [(1, 6, 13, 2, True)] + [(15 + 15 * i, 1, 13, 14, True) for i in range(7)]
    assert title_glyph_problem(banner_with(glyphs), 96) is None

    # The right shapes at the wrong size (96-dpi glyphs in a 144-dpi window).
    problem = title_glyph_problem(banner_with(glyphs, dpi=144), 144)
    assert problem is not None and "high" in problem, problem
