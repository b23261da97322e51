#!/usr/bin/env python3
"""The peer of an XTCH book: the pages of typeset_pillow.py (the same layout and
drawing with Pillow, 480 x 800, antialiased grey), each brought to the four grey
levels of the Xteink X4 and packed as 2-bit XTH pages into one .xtch file: the
56-byte header, the page table, then the pages. No title, chapters or contents
pages, so it compares with a book made with --no-toc.
   xtch_pillow.py TEXT.txt BOOK.xtch [PAGES]     prints pages and seconds"""
import struct
import sys
import time
from PIL import Image

from typeset_pillow import HEIGHT, WIDTH, draw, layout, open_font, paginate

# The nearest of black, dark grey, light grey and white, as the format's codes
# (0 white, 1 dark grey, 2 light grey, 3 black), and each code's two bit planes.
CODE_OF_LEVEL = (3, 1, 2, 0)
CODES = [CODE_OF_LEVEL[(g * 3 + 127) // 255] for g in range(256)]
HIGH = [255 if c >> 1 else 0 for c in CODES]
LOW = [255 if c & 1 else 0 for c in CODES]
COLUMN_BYTES = (HEIGHT + 7) // 8
BITMAP = WIDTH * COLUMN_BYTES * 2
PAGE_BYTES = 22 + BITMAP


def plane(img, table):
    # Columns from right to left, each top to bottom, eight pixels a byte with the
    # topmost in the high bit: turned a quarter to the left, the columns become rows
    # of a 1-bit picture, which Pillow packs just so.
    bits = img.point(table).transpose(Image.Transpose.ROTATE_90)
    return bits.convert("1", dither=Image.Dither.NONE).tobytes()


def main():
    text_path, book_path = sys.argv[1], sys.argv[2]
    limit = int(sys.argv[3]) if len(sys.argv) > 3 else 1 << 30
    font = open_font()
    start = time.perf_counter()
    pages = paginate(layout(text_path, font), limit)
    count = len(pages)
    table_at = 56
    first_page_at = table_at + 16 * count
    with open(book_path, "wb") as out:
        out.write(struct.pack("<4sBBHBBBBIQQQQII", b"XTCH", 1, 0, count, 0, 0, 0, 0, 0,
                              0, table_at, first_page_at, 0, 0, 0))
        out.write(b"".join(struct.pack("<QIHH", first_page_at + k * PAGE_BYTES, PAGE_BYTES, WIDTH, HEIGHT)
                           for k in range(count)))
        header = struct.pack("<4sHHBBIQ", b"XTH\0", WIDTH, HEIGHT, 0, 0, BITMAP, 0)
        for page in pages:
            img = draw(page, font)
            out.write(header + plane(img, HIGH) + plane(img, LOW))
    print(count, "%.3f" % (time.perf_counter() - start))


if __name__ == "__main__":
    main()
