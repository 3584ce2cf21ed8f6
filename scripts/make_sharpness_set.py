#!/usr/bin/python3
"""Builds the training and validation photos of the sharpness assessor.

    scripts/make_sharpness_set.py [--sources DIR ...] [--out DIR] [--only train|valid]

Sources: the photos of training/ and of samples/, and the full-size originals of the
wallpapers that samples/ was made from, with six more of the same Debian package
(lomiri-wallpapers-16.04, CC0 / CC BY / CC BY-SA; 5 to 16 megapixels, the soft
pixel level of large photos at 100 %). The package is fetched with apt-get download
into OUT/wallpapers/ unless --wallpapers names a folder that holds its JPEG files.

Every sharp source photo goes,
with all the copies made of it, either to the training half or to the
validation half: every third source in name order is a validation source, so no photo and
no copy of a photo is on both sides. The real out-of-focus series (photos named
fs-switch_* and fs-ring_*, with their sharp partners) stay together on one side:
fs-switch in validation, fs-ring in training.

Copies, all at full resolution unless said otherwise:
  blurred  Gaussian sigma 1, 2 and 4 px; defocus discs of radius 2, 4 and 6 px; straight
           motion of 5, 9 and 15 px at angles that vary from photo to photo; two curved
           hand-shake paths of about 8 and 16 px;
  sharp    downscaled by 2 and by 4 (area average; only while the short side stays at
           least 120 px), re-encoded at JPEG quality 60 and 80, and with mild noise
           (sigma 3 grey levels).
Blurred copies are saved at JPEG quality 85, 90 or 95 (chosen from the name), the sharp copies at 92
unless their kind sets it, all with OpenCV's JPEG writer; the originals are copied byte
for byte. Randomness (angles, shake paths, noise) comes from generators seeded from the
photo's name, so the set comes out the same on every run.

Layout of OUT (default: sharpness-set):
  train/good/, train/blur/      flat folders for lumvet-train (good = sharp)
  valid/sharp/NAME.jpg          the validation originals
  valid/sharp_copies/NAME_KIND.jpg
  valid/blur_KIND/VARIANT/NAME.jpg   blurred copies, named as their original so that
                                 same-scene pairs can be found
  valid/blur_real/NAME.jpg      real out-of-focus photos
  valid/labels.tsv              path, label (sharp|blurred), kind
Needs Debian's python3-numpy and python3-opencv (/usr/bin/python3).
"""
import argparse
import glob
import hashlib
import math
import os
import shutil
import subprocess
import sys
import tempfile

import cv2
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
DEFAULT_SOURCES = [os.path.join(REPO, 'training'), os.path.join(REPO, 'samples')]
REAL_SERIES = ('fs-switch_', 'fs-ring_')


def name_seed(name, salt):
    return int.from_bytes(hashlib.sha256((salt + ':' + name).encode()).digest()[:8], 'little')


def disc_kernel(radius):
    """A uniform disc, its rim antialiased by 8x8 supersampling."""
    size = 2 * int(math.ceil(radius)) + 1
    c = size // 2
    sub = (np.arange(8) + 0.5) / 8.0 - 0.5
    k = np.zeros((size, size), np.float64)
    for y in range(size):
        for x in range(size):
            yy = (y - c) + sub[:, None]
            xx = (x - c) + sub[None, :]
            k[y, x] = np.mean(xx * xx + yy * yy <= radius * radius)
    return (k / k.sum()).astype(np.float32)


def path_kernel(points):
    """Spreads unit weight along a polyline (list of (x, y)) with bilinear splats."""
    pts = np.asarray(points, np.float64)
    seg = np.hypot(*np.diff(pts, axis=0).T)
    steps = max(2, int(seg.sum() * 8))
    t = np.linspace(0.0, 1.0, steps)
    cum = np.concatenate([[0.0], np.cumsum(seg)]) / max(seg.sum(), 1e-9)
    xs = np.interp(t, cum, pts[:, 0])
    ys = np.interp(t, cum, pts[:, 1])
    xs -= xs.mean()
    ys -= ys.mean()
    half = int(math.ceil(max(np.abs(xs).max(), np.abs(ys).max()))) + 1
    size = 2 * half + 1
    k = np.zeros((size, size), np.float64)
    for x, y in zip(xs + half, ys + half):
        x0, y0 = int(math.floor(x)), int(math.floor(y))
        fx, fy = x - x0, y - y0
        k[y0, x0] += (1 - fx) * (1 - fy)
        k[y0, x0 + 1] += fx * (1 - fy)
        k[y0 + 1, x0] += (1 - fx) * fy
        k[y0 + 1, x0 + 1] += fx * fy
    return (k / k.sum()).astype(np.float32)


def motion_kernel(length, angle_deg):
    a = math.radians(angle_deg)
    dx, dy = math.cos(a) * length / 2.0, math.sin(a) * length / 2.0
    return path_kernel([(-dx, -dy), (dx, dy)])


def shake_kernel(length, rng):
    """A smooth random curve of about `length` px: a walk whose heading turns gently."""
    n = 24
    heading = rng.uniform(0, 2 * math.pi)
    turn = rng.normal(0, 0.35, n).cumsum()
    step = length / n
    x = y = 0.0
    pts = [(x, y)]
    for i in range(n):
        x += step * math.cos(heading + turn[i])
        y += step * math.sin(heading + turn[i])
        pts.append((x, y))
    return path_kernel(pts)


def to_u8(img):
    return np.clip(np.rint(img), 0, 255).astype(np.uint8)


def filtered(img, kernel):
    return to_u8(cv2.filter2D(img.astype(np.float32), -1, kernel, borderType=cv2.BORDER_REFLECT))


def blurred_copies(name, img):
    """(kind, variant, pixels) for every blurred copy of one photo."""
    f = img.astype(np.float32)
    rng = np.random.default_rng(name_seed(name, 'blur'))
    angles = rng.permutation([0, 20, 45, 70, 90, 110, 135, 160])
    out = []
    for s in (1, 2, 4):
        out.append(('gauss', 's%d' % s, to_u8(cv2.GaussianBlur(f, (0, 0), s,
                                                               borderType=cv2.BORDER_REFLECT))))
    for r in (2, 4, 6):
        out.append(('defocus', 'r%d' % r, filtered(f, disc_kernel(r))))
    for i, length in enumerate((5, 9, 15)):
        out.append(('motion', 'l%d' % length, filtered(f, motion_kernel(length, angles[i]))))
    for label, length in (('a', 8), ('b', 16)):
        out.append(('shake', label, filtered(f, shake_kernel(length, rng))))
    return out


def sharp_copies(name, img):
    """(kind, pixels, quality) for every copy that stays sharp."""
    h, w = img.shape[:2]
    out = []
    for factor in (2, 4):
        if min(h, w) // factor >= 120:
            small = cv2.resize(img, (w // factor, h // factor), interpolation=cv2.INTER_AREA)
            out.append(('down%d' % factor, small, 92))
    out.append(('q60', img, 60))
    out.append(('q80', img, 80))
    rng = np.random.default_rng(name_seed(name, 'noise'))
    out.append(('noise', to_u8(img.astype(np.float32) + rng.normal(0, 3.0, img.shape)), 92))
    return out


def write_jpeg(path, img, quality):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if not cv2.imwrite(path, img, [cv2.IMWRITE_JPEG_QUALITY, quality]):
        sys.exit('cannot write ' + path)


def collect_sources(dirs):
    """(name, path, label) of every photo: sharp originals, real blurred ones, sample copies."""
    items = []
    for d in dirs:
        for sub, label in (('sharp', 'sharp'), ('blur', 'blurred'), ('', None)):
            folder = os.path.join(d, sub) if sub else d
            if not os.path.isdir(folder):
                continue
            for f in sorted(os.listdir(folder)):
                if not f.lower().endswith('.jpg'):
                    continue
                stem = f[:-4]
                if label is None:  # a flat folder such as samples/: NAME_blur_sN are copies
                    lab = 'blurred' if '_blur_' in stem else 'sharp'
                else:
                    lab = label
                items.append((stem, os.path.join(folder, f), lab))
    return items


def sample_originals():
    """Full-size original stem -> bundled sample stem, from samples/README.md's table."""
    out = {}
    with open(os.path.join(REPO, 'samples', 'README.md')) as f:
        for line in f:
            cells = [c.strip() for c in line.split('|')]
            if len(cells) > 6 and cells[1].endswith('.jpg') and cells[5].endswith('.jpg'):
                out.setdefault(cells[5][:-4], cells[1][:-4].split('_blur_')[0])
    return out


ORIGINALS = sample_originals()


def group_of(stem):
    for prefix in REAL_SERIES:
        if stem.startswith(prefix):
            return prefix.rstrip('_')
    return ORIGINALS.get(stem, stem.split('_blur_')[0])


def fetch_wallpapers(folder):
    """The 16.04 wallpapers of Debian's lomiri-wallpapers-16.04 as folder/sharp/*.jpg."""
    if glob.glob(os.path.join(folder, 'sharp', '*.jpg')):
        return
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(['apt-get', 'download', 'lomiri-wallpapers-16.04'], cwd=tmp, check=True,
                       stdout=subprocess.DEVNULL)
        deb = glob.glob(os.path.join(tmp, '*.deb'))[0]
        subprocess.run(['dpkg', '-x', deb, os.path.join(tmp, 'pkg')], check=True)
        os.makedirs(os.path.join(folder, 'sharp'), exist_ok=True)
        for f in sorted(glob.glob(os.path.join(tmp, 'pkg', 'usr', 'share', 'backgrounds', '*.jpg'))):
            shutil.copyfile(f, os.path.join(folder, 'sharp', os.path.basename(f)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--sources', nargs='+', default=DEFAULT_SOURCES)
    ap.add_argument('--wallpapers', help='folder with sharp/*.jpg of the wallpaper package '
                    '(default: OUT/wallpapers, fetched when missing)')
    ap.add_argument('--out', default='sharpness-set')
    ap.add_argument('--only', choices=('train', 'valid'))
    args = ap.parse_args()

    wallpapers = args.wallpapers or os.path.join(args.out, 'wallpapers')
    fetch_wallpapers(wallpapers)
    items = collect_sources(args.sources + [wallpapers])
    # Every third source in name order is validated on; of the two real series,
    # the larger one (five out-of-focus shots) is, so that real defocus is measured.
    groups = sorted({group_of(stem) for stem, _, _ in items} - {'fs-switch', 'fs-ring'})
    valid_groups = {g for i, g in enumerate(groups) if i % 3 == 1} | {'fs-switch'}
    for side in ('train', 'valid'):
        if args.only in (None, side):
            shutil.rmtree(os.path.join(args.out, side), ignore_errors=True)
    labels = []
    for stem, path, label in items:
        side = 'valid' if group_of(stem) in valid_groups else 'train'
        if args.only not in (None, side):
            continue
        real = stem.startswith(REAL_SERIES)
        img = cv2.imread(path, cv2.IMREAD_COLOR)
        if img is None:
            sys.exit('cannot read ' + path)
        if side == 'train':
            dest = os.path.join(args.out, 'train', 'good' if label == 'sharp' else 'blur')
            os.makedirs(dest, exist_ok=True)
            shutil.copyfile(path, os.path.join(dest, stem + '.jpg'))
        else:
            if label == 'sharp':
                rel = os.path.join('sharp', stem + '.jpg')
            elif real:
                rel = os.path.join('blur_real', stem + '.jpg')
            else:  # a bundled blurred copy: NAME_blur_sN
                base, sigma = stem.split('_blur_')
                rel = os.path.join('blur_gauss', sigma + '_bundled', base + '.jpg')
            os.makedirs(os.path.dirname(os.path.join(args.out, 'valid', rel)), exist_ok=True)
            shutil.copyfile(path, os.path.join(args.out, 'valid', rel))
            kind = 'original' if label == 'sharp' else ('real' if real else 'gauss')
            labels.append((rel, label, kind))
        if label != 'sharp':
            continue
        print(side, stem, img.shape[1], 'x', img.shape[0], flush=True)
        for kind, variant, pixels in blurred_copies(stem, img):
            quality = (85, 90, 95)[name_seed(stem + kind + variant, 'quality') % 3]
            if side == 'train':
                out = os.path.join(args.out, 'train', 'blur', '%s_%s%s.jpg' % (stem, kind, variant))
            else:
                rel = os.path.join('blur_' + kind, variant, stem + '.jpg')
                labels.append((rel, 'blurred', kind))
                out = os.path.join(args.out, 'valid', rel)
            write_jpeg(out, pixels, quality)
        for kind, pixels, quality in sharp_copies(stem, img):
            if side == 'train':
                out = os.path.join(args.out, 'train', 'good', '%s_%s.jpg' % (stem, kind))
            else:
                rel = os.path.join('sharp_copies', '%s_%s.jpg' % (stem, kind))
                labels.append((rel, 'sharp', 'sharp_' + kind.rstrip('0123456789')))
                out = os.path.join(args.out, 'valid', rel)
            write_jpeg(out, pixels, quality)
    if args.only in (None, 'valid'):
        with open(os.path.join(args.out, 'valid', 'labels.tsv'), 'w') as f:
            f.write('path\tlabel\tkind\n')
            for rel, label, kind in labels:
                f.write('%s\t%s\t%s\n' % (rel, label, kind))


if __name__ == '__main__':
    main()
