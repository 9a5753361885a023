#!/usr/bin/python3
"""Writes a synthetic land-cover scene of any size for timing the classification of large rasters.

The scene is a checkerboard of square fields of --field pixels, each of one of four classes
(water, forest, field, urban) chosen by a fixed hash of the field's position; every class has its
own mean per band, and every sample gets seeded uniform noise. Written a band of rows at a time,
so the generator never holds the scene:

  make_large_scene.py scene.tif --size 20000 --bands 4 --type uint16   # tiled GeoTIFF
  make_large_scene.py scene.png --size 2000 --bands 3 --type uint8     # 8-bit RGB picture

With --polygons FILE it also writes a polygon file with one polygon per field of the first
--train x --train fields (inset by 2 pixels), labelled with the field's class.

Needs Debian's python3-gdal (run it with /usr/bin/python3).
"""

import argparse
import os
import sys

import numpy
from osgeo import gdal

CLASSES = ["water", "forest", "field", "urban"]
COLOURS = ["#2850a0", "#286428", "#beaa5a", "#828282"]
# Class means per band, as fractions of the sample range; bands past the fourth repeat them.
MEANS = [
    [0.10, 0.15, 0.35, 0.05],
    [0.10, 0.30, 0.12, 0.60],
    [0.45, 0.40, 0.25, 0.45],
    [0.50, 0.50, 0.50, 0.30],
]
NOISE = 0.08


def field_classes(columns, rows):
    """The class of every field, by a fixed hash of its position."""
    fx, fy = numpy.meshgrid(numpy.arange(columns), numpy.arange(rows))
    return ((fx * 7919 + fy * 104729 + (fx * fy) % 13) % len(CLASSES)).astype(numpy.int64)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("output")
    parser.add_argument("--size", type=int, default=20000, help="width and height in pixels")
    parser.add_argument("--bands", type=int, default=4)
    parser.add_argument("--type", choices=["uint8", "uint16"], default="uint16")
    parser.add_argument("--field", type=int, default=250, help="side of a field in pixels")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--polygons", help="polygon file of the first fields")
    parser.add_argument("--train", type=int, default=4, help="fields a side in the polygon file")
    args = parser.parse_args()

    size, bands, side = args.size, args.bands, args.field
    deep = args.type == "uint16"
    top = 4095.0 if deep else 255.0
    gdal_type = gdal.GDT_UInt16 if deep else gdal.GDT_Byte
    numpy_type = numpy.uint16 if deep else numpy.uint8
    fields = field_classes((size + side - 1) // side, (size + side - 1) // side)
    means = numpy.array([[MEANS[c][b % 4] for b in range(bands)] for c in range(len(CLASSES))])

    extension = os.path.splitext(args.output)[1].lower()
    tiff = extension in (".tif", ".tiff")
    if tiff:
        target = gdal.GetDriverByName("GTiff").Create(
            args.output, size, size, bands, gdal_type,
            ["TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "INTERLEAVE=BAND", "BIGTIFF=IF_SAFER"])
        target.SetGeoTransform([500000.0, 10.0, 0.0, 4500000.0, 0.0, -10.0])
    else:
        target = gdal.GetDriverByName("MEM").Create("", size, size, bands, gdal_type)
    rng = numpy.random.default_rng(args.seed)
    step = 512
    columns = numpy.arange(size) // side
    for y0 in range(0, size, step):
        rows = min(step, size - y0)
        classes = fields[(numpy.arange(y0, y0 + rows) // side)[:, None], columns[None, :]]
        for b in range(bands):
            noise = rng.uniform(-NOISE, NOISE, size=(rows, size))
            values = numpy.clip((means[classes, b] + noise) * top, 0, top)
            target.GetRasterBand(b + 1).WriteArray(values.astype(numpy_type), 0, y0)
    if not tiff:
        gdal.GetDriverByName(extension.lstrip(".").upper() if extension != ".jpg" else "JPEG") \
            .CreateCopy(args.output, target)
    target = None

    if args.polygons:
        count = min(args.train, fields.shape[0])
        with open(args.polygons, "w") as out:
            out.write(os.path.basename(args.output) + "\n")
            out.write("%d\n%s\n" % (len(CLASSES), "\n".join(CLASSES)))
            out.write("%d\n%s\n" % (len(COLOURS), "\n".join(COLOURS)))
            labels = [CLASSES[fields[fy, fx]] for fy in range(count) for fx in range(count)]
            out.write("%d\n%s\n%d\n" % (len(labels), "\n".join(labels), len(labels)))
            for fy in range(count):
                for fx in range(count):
                    x0, y0 = fx * side + 2, fy * side + 2
                    x1, y1 = min((fx + 1) * side, size) - 2, min((fy + 1) * side, size) - 2
                    out.write("4\n%d %d\n%d %d\n%d %d\n%d %d\n" % (x0, y0, x0, y1, x1, y1, x1, y0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
