#!/usr/bin/env python3
"""Writes a deterministic mixed CJK text of about N characters (UTF-8, CR LF):
paragraphs of common Han characters with Chinese punctuation, some ASCII words
and digits, and the occasional empty line, like a web novel."""
import random
import sys

def main():
    out_path = sys.argv[1]
    target = int(sys.argv[2]) if len(sys.argv) > 2 else 1_500_000
    rng = random.Random(20261207)
    # The 3,755 common characters of GB2312 level 1 (rows 0xB0..0xD7).
    han = []
    for hi in range(0xB0, 0xD8):
        for lo in range(0xA1, 0xFF):
            try:
                han.append(bytes([hi, lo]).decode("gb2312"))
            except UnicodeDecodeError:
                pass
    punct = "，，，。。！？；：、“”"
    words = ["Pagiro", "OK", "2026", "CPU", "the", "and", "iPhone", "MP3", "1.5"]
    parts = []
    n = 0
    chapter = 1
    while n < target:
        if rng.random() < 0.02:
            line = f"第{chapter}章　" + "".join(rng.choice(han) for _ in range(rng.randint(2, 8)))
            chapter += 1
            para = line + "\r\n\r\n"
        else:
            chars = []
            for _ in range(rng.randint(4, 44)):
                r = rng.random()
                if r < 0.10:
                    chars.append(rng.choice(punct))
                elif r < 0.13:
                    chars.append(rng.choice(words))
                else:
                    chars.append(rng.choice(han))
            para = "　　" + "".join(chars) + "\r\n"
            if rng.random() < 0.7:
                para += "\r\n"
        parts.append(para)
        n += len(para)
    with open(out_path, "w", encoding="utf-8", newline="") as f:
        f.write("".join(parts))

if __name__ == "__main__":
    main()
