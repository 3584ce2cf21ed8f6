#!/usr/bin/env python3
"""The common "variance of the Laplacian" blur check, for comparison with lumvet:
read each photo with OpenCV, convert it to grayscale, and take the variance of its
Laplacian. One thread (cv2.setNumThreads(1)).

Usage: opencv_peer.py FOLDER...   (the *.jpg files of each folder, sorted)
Prints the photos measured and the milliseconds per photo, timed inside the
interpreter (start-up and the import of cv2 are not counted).
Exits with 3 when OpenCV is not installed.
"""
import os
import sys
import time

try:
    import cv2
except ImportError:
    sys.exit(3)


def main():
    files = []
    for folder in sys.argv[1:]:
        names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".jpg"))
        files += [os.path.join(folder, n) for n in names]
    cv2.setNumThreads(1)
    start = time.perf_counter()
    checksum = 0.0
    for path in files:
        image = cv2.imread(path, cv2.IMREAD_COLOR)
        gray = cv2.cvtColor(image, cv2.COLOR_BGR2GRAY)
        checksum += cv2.Laplacian(gray, cv2.CV_64F).var()
    ms = (time.perf_counter() - start) * 1000.0
    print("%d photos %.3f ms_per_photo checksum %.1f" % (len(files), ms / max(1, len(files)), checksum))


if __name__ == "__main__":
    main()
