#!/usr/bin/python3
"""OpenCV's HOGDescriptor on the boxes of GradientBench's BM_HogBoxes100: the 100 boxes of
100 x 100 pixels tiling the same 1000 x 1000 textured image (stripes, blobs and noise, made here
by the same formulas, its noise drawn by another generator), with the layout of 2 x 2 blocks of
9 bins (33-pixel cells, 66-pixel blocks, a 33-pixel block stride, 99 x 99 windows). Prints boxes
per second, best of several rounds, on the colour image (OpenCV takes the strongest channel's
gradient) and on its grey mean (as the gradient histograms do), on 1 and 2 threads.
Needs Debian's python3-opencv (run it with /usr/bin/python3, under flock /work/build.lock).
"""

import time

import cv2
import numpy


def textured_image(width, height):
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float64)
    stripes = 60.0 * numpy.sin((x + 2 * y) / 7.0)
    sigma = 4.0 + (x // 97) % 5
    blob = 120.0 * numpy.exp(-(((x % 97) - 48) ** 2 + ((y % 83) - 41) ** 2) / (2.0 * sigma**2))
    noise = numpy.random.default_rng(3).integers(0, 41, size=(height, width))
    level = (90.0 + stripes + blob).astype(numpy.int64) + noise
    red = numpy.clip(level, 0, 255)
    green = numpy.clip(level - 30, 0, 255)
    blue = numpy.clip(255 - level, 0, 255)
    return numpy.dstack([red, green, blue]).astype(numpy.uint8)


def boxes_per_second(image, rounds=7, repeats=20):
    hog = cv2.HOGDescriptor((99, 99), (66, 66), (33, 33), (33, 33), 9)
    boxes = [
        numpy.ascontiguousarray(image[(n // 10) * 100 : (n // 10) * 100 + 100,
                                      (n % 10) * 100 : (n % 10) * 100 + 100])
        for n in range(100)
    ]
    best = 0.0
    for _ in range(rounds):
        start = time.perf_counter()
        for _ in range(repeats):
            for box in boxes:
                hog.compute(box)
        best = max(best, len(boxes) * repeats / (time.perf_counter() - start))
    return best


def main():
    colour = textured_image(1000, 1000)
    grey = (colour.astype(numpy.float64).sum(axis=2) / 3.0).round().astype(numpy.uint8)
    for threads in (1, 2):
        cv2.setNumThreads(threads)
        print(f"OpenCV {cv2.__version__} HOGDescriptor, {threads} thread(s): "
              f"colour {boxes_per_second(colour):.0f} boxes/s, "
              f"grey {boxes_per_second(grey):.0f} boxes/s")


if __name__ == "__main__":
    main()
