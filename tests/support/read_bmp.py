#!/usr/bin/python3
# Reads a BMP file with PIL, a decoder independent of ours. Prints "format width height mode",
# then "r,g,b" for each pixel asked for as "x,y". Usage: read_bmp.py FILE [X,Y ...]
import sys

from PIL import Image

image = Image.open(sys.argv[1])
image.load()
print(image.format, image.size[0], image.size[1], image.mode)
rgb = image.convert("RGB")
for pixel in sys.argv[2:]:
    print("%d,%d,%d" % rgb.getpixel(tuple(map(int, pixel.split(",")))))
