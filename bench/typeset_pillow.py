#!/usr/bin/env python3
"""The peer of typeset pages: a greedy layout of the same page box with Pillow
(480 x 800, margins of 6% of the shorter side, 16 pt = 21 px Noto Serif CJK SC,
lines 1.5 apart, a two-em indent, a gap for empty lines), line-start rules kept
by pushing the last character down, antialiased text, 8-bit grey PNG pages.
   typeset_pillow.py TEXT.txt OUTDIR [PAGES]     prints pages and seconds
The layout and the drawing are shared with the book peer (xtch_pillow.py)."""
import os
import sys
import time
from PIL import Image, ImageDraw, ImageFont

NO_START = set("，。、；：？！）」』》”’…!%),.:;?]}")
OPENING = set("（「『《“‘([{")
FONT = "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc"
WIDTH, HEIGHT, PX = 480, 800, 21
MARGIN = round(0.06 * min(WIDTH, HEIGHT))


def layout(text_path, font):
    """The text's lines as (indent, text, gap before), greedily filled; made as
    they are asked for, so that a run of a few pages lays out only those."""
    box = WIDTH - 2 * MARGIN
    advance = {}
    def adv(ch):
        a = advance.get(ch)
        if a is None:
            a = advance[ch] = font.getlength(ch)
        return a
    paragraphs = open(text_path, encoding="utf-8").read().splitlines()
    gap, any_line = False, False
    for para in paragraphs:
        para = para.strip(" \t\u3000")
        if not para:
            gap = any_line
            continue
        indent = 2 * PX if "\u4e00" <= para[0] <= "\u9fff" else 0
        i, n = 0, len(para)
        while i < n:
            room, w, j = box - indent, 0.0, i
            while j < n and w + adv(para[j]) <= room:
                w += adv(para[j])
                j += 1
            while i + 1 < j < n and (para[j] in NO_START or para[j - 1] in OPENING):
                j -= 1
            yield indent, para[i:j], gap
            gap, any_line, indent, i = False, True, 0, j


def paginate(lines, limit):
    """The first `limit` pages, each a list of (x, y, text) to draw."""
    pitch = PX * 1.5
    pages, page, y = [], None, None
    for indent, line, gap_before in lines:
        if page is not None and gap_before:
            y += pitch
        if page is None or y + PX * 1.45 > HEIGHT - MARGIN:
            if len(pages) == limit:
                break
            page = []
            pages.append(page)
            y = MARGIN
        page.append((MARGIN + indent, y, line))
        y += pitch
    return pages


def draw(page, font):
    img = Image.new("L", (WIDTH, HEIGHT), 255)
    d = ImageDraw.Draw(img)
    for x, y, line in page:
        d.text((x, y), line, font=font, fill=0)
    return img


def open_font():
    return ImageFont.truetype(FONT, PX, index=2)


def main():
    text_path, out_dir = sys.argv[1], sys.argv[2]
    limit = int(sys.argv[3]) if len(sys.argv) > 3 else 1 << 30
    font = open_font()
    os.makedirs(out_dir, exist_ok=True)
    start = time.perf_counter()
    pages = paginate(layout(text_path, font), limit)
    for number, page in enumerate(pages, 1):
        draw(page, font).save(os.path.join(out_dir, "page%06d.png" % number))
    print(len(pages), "%.3f" % (time.perf_counter() - start))


if __name__ == "__main__":
    main()
