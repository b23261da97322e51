#!/usr/bin/env python3
"""The peer: lays out the same default pages as Pagiro (128 x 110, 9 pt = 12 px,
10 columns of two-byte characters, 8 lines at a pitch of 13, GBK widths, CR LF
line breaks) and saves each page as a quality-75 optimised JPEG with Pillow."""
import os
import sys
from PIL import Image, ImageDraw, ImageFont

def width(ch):
    try:
        return 1.0 if len(ch.encode("gbk")) == 2 else 0.5
    except UnicodeEncodeError:
        return 0.5

def main():
    text_path, out_dir, font_path = sys.argv[1], sys.argv[2], sys.argv[3]
    text = open(text_path, encoding="utf-8", newline="").read()
    os.makedirs(out_dir, exist_ok=True)
    font = ImageFont.truetype(font_path, 12)
    cpl, lpp, pitch = 10, 8, 13
    i, n_text, page = 0, len(text), 1
    while i < n_text:
        img = Image.new("RGB", (128, 110), "white")
        draw = ImageDraw.Draw(img)
        n = 0
        while n < lpp and i < n_text:
            line, col = [], 1.0
            while col <= cpl and i < n_text:
                ch = text[i]
                i += 1
                if ch == "\r":
                    i += 1
                    break
                line.append(ch)
                col += width(ch)
            draw.text((4, pitch * n + 4), "".join(line), font=font, fill="black")
            n += 1
        img.save(os.path.join(out_dir, "kbwm%06d.jpg" % page), quality=75, optimize=True)
        page += 1
    print(page - 1)

if __name__ == "__main__":
    main()
