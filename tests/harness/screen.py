"""Screenshots as pixels: load a PNG (through ImageMagick's PPM output),
crop, look for colours and measure the ink of text."""

from .util import HarnessError, run


class Image:
    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb  # bytes, 3 per pixel, row after row

    @staticmethod
    def load(path, timeout=30):
        cp = run(["convert", path, "-depth", "8", "ppm:-"], timeout=timeout)
        return Image.from_ppm(cp.stdout)

    @staticmethod
    def from_ppm(data):
        # P6 <ws> width <ws> height <ws> maxval <one ws> pixels
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            start = pos
            while not data[pos:pos + 1].isspace():
                pos += 1
            fields.append(data[start:pos])
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise HarnessError("not an 8-bit PPM image")
        w, h = int(fields[1]), int(fields[2])
        pixels = data[pos + 1:pos + 1 + w * h * 3]
        if len(pixels) != w * h * 3:
            raise HarnessError("truncated PPM image")
        return Image(w, h, pixels)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, left, top, right, bottom):
        """The part [left, right) × [top, bottom), clipped to the image."""
        left, top = max(0, left), max(0, top)
        right, bottom = min(self.width, right), min(self.height, bottom)
        if right <= left or bottom <= top:
            return Image(0, 0, b"")
        rows = [self.rgb[(y * self.width + left) * 3:(y * self.width + right) * 3] for y in range(top, bottom)]
        return Image(right - left, bottom - top, b"".join(rows))

    def pixels(self):
        rgb = self.rgb
        for i in range(0, len(rgb), 3):
            yield rgb[i], rgb[i + 1], rgb[i + 2]

    def count(self, colour, tolerance=0):
        """Pixels within `tolerance` per channel of the colour."""
        r0, g0, b0 = colour
        n = 0
        for r, g, b in self.pixels():
            if abs(r - r0) <= tolerance and abs(g - g0) <= tolerance and abs(b - b0) <= tolerance:
                n += 1
        return n

    def fraction(self, colour, tolerance=0):
        total = self.width * self.height
        return self.count(colour, tolerance) / float(total) if total else 0.0

    def bbox(self, colour, tolerance=0):
        """(left, top, right, bottom) around every pixel of the colour, or None."""
        r0, g0, b0 = colour
        xs, ys = [], []
        w = self.width
        for i, (r, g, b) in enumerate(self.pixels()):
            if abs(r - r0) <= tolerance and abs(g - g0) <= tolerance and abs(b - b0) <= tolerance:
                xs.append(i % w)
                ys.append(i // w)
        if not xs:
            return None
        return (min(xs), min(ys), max(xs) + 1, max(ys) + 1)

    def ink_mask(self, is_ink):
        """Rows of booleans: is_ink((r, g, b)) per pixel."""
        w = self.width
        flat = [is_ink(p) for p in self.pixels()]
        return [flat[y * w:(y + 1) * w] for y in range(self.height)]

    def glyphs(self, is_ink, min_gap=1):
        """Splits the ink into glyph runs: column ranges with ink separated by
        at least `min_gap` empty columns. Returns one dict per run with its
        columns, the rows its ink spans and its ink pixel count."""
        mask = self.ink_mask(is_ink)
        cols = [any(mask[y][x] for y in range(self.height)) for x in range(self.width)]
        runs, x = [], 0
        while x < self.width:
            if not cols[x]:
                x += 1
                continue
            start = x
            gap = 0
            while x < self.width and gap < min_gap:
                gap = 0 if cols[x] else gap + 1
                x += 1
            end = x - gap
            rows = [y for y in range(self.height) if any(mask[y][start:end])]
            ink = sum(sum(1 for v in mask[y][start:end] if v) for y in range(self.height))
            runs.append({"left": start, "right": end, "top": rows[0], "bottom": rows[-1] + 1,
                         "height": rows[-1] + 1 - rows[0], "width": end - start, "ink": ink})
        return runs


def near(colour, tolerance):
    """A predicate for ink_mask/glyphs: within `tolerance` of the colour."""
    r0, g0, b0 = colour
    return lambda p: abs(p[0] - r0) <= tolerance and abs(p[1] - g0) <= tolerance and abs(p[2] - b0) <= tolerance


def brighter_than(level):
    """A predicate: every channel above `level` (white text on a dark field)."""
    return lambda p: p[0] > level and p[1] > level and p[2] > level


def darker_than(level):
    """A predicate: mean of the channels below `level` (dark text on a light field)."""
    return lambda p: (p[0] + p[1] + p[2]) < 3 * level
