#!/usr/bin/python3
"""Accuracy of blur scores on the validation set of the sharpness assessor.

    bench/accuracy.py VALID_DIR NAME=SCORES.tsv[:THRESHOLD[:higher|lower]] ... (split at the last '=') [--laplacian]

VALID_DIR holds labels.tsv (path, label, kind; see scripts/make_sharpness_set.py).
Each SCORES.tsv is lumvet's --format=tsv output (score, status, path). With
--laplacian the variance of the Laplacian of each photo's grey image (OpenCV,
3 x 3 aperture; lower means blurrier, listed below 100 as is customary) is
computed here as a third method. Prints a markdown table per method: ROC AUC
overall and per kind of blur (each kind against all sharp photos), the share of
same-scene blurred copies rated blurrier than their original (ties count half),
and the shares of sharp photos listed and of blurred photos found at the
method's listing threshold. Needs Debian's python3-numpy (and python3-opencv
for --laplacian).
"""
import os
import sys

import numpy as np


def auc(pos, neg):
    """P(blurred scores blurrier) + P(tie) / 2, by ranks."""
    pos, neg = np.asarray(pos, float), np.asarray(neg, float)
    if len(pos) == 0 or len(neg) == 0:
        return float('nan')
    x = np.concatenate([pos, neg])
    order = np.argsort(x, kind='mergesort')
    xs = x[order]
    starts = np.flatnonzero(np.r_[True, xs[1:] != xs[:-1], True])
    mid = (starts[:-1] + starts[1:] - 1) / 2.0 + 1.0
    ranks = np.empty(len(x))
    ranks[order] = np.repeat(mid, np.diff(starts))
    return (ranks[:len(pos)].sum() - len(pos) * (len(pos) + 1) / 2.0) / (len(pos) * len(neg))


def read_labels(valid):
    rows = []
    with open(os.path.join(valid, 'labels.tsv')) as f:
        next(f)
        for line in f:
            path, label, kind = line.rstrip('\n').split('\t')[:3]
            rows.append((os.path.normpath(os.path.join(valid, path)), label == 'blurred', kind))
    return rows


def read_scores(path):
    scores = {}
    with open(path) as f:
        for line in f:
            parts = line.rstrip('\n').split('\t')
            if len(parts) < 3 or parts[0] == 'score':
                continue
            scores[os.path.normpath(parts[2])] = float(parts[0])
    return scores


def laplacian_scores(rows):
    import cv2
    out = {}
    for path, _, _ in rows:
        grey = cv2.imread(path, cv2.IMREAD_GRAYSCALE)
        out[path] = cv2.Laplacian(grey, cv2.CV_64F).var()
    return out


def report(name, rows, scores, threshold, higher_is_blurrier):
    sign = 1.0 if higher_is_blurrier else -1.0
    missing = [p for p, _, _ in rows if p not in scores]
    if missing:
        sys.exit('%s: no score for %d photos, e.g. %s' % (name, len(missing), missing[0]))
    v = np.array([sign * scores[p] for p, _, _ in rows])
    y = np.array([b for _, b, _ in rows])
    kinds = sorted({k for _, b, k in rows if b})
    kind = np.array([k for _, _, k in rows])
    lines = ['### %s' % name, '', '| subset | photos | ROC AUC |', '|---|---|---|']
    lines.append('| all blurred vs all sharp | %d + %d | %.3f |' % (y.sum(), (~y).sum(),
                                                                  auc(v[y], v[~y])))
    for k in kinds:
        sel = y & (kind == k)
        lines.append('| %s vs all sharp | %d | %.3f |' % (k, sel.sum(), auc(v[sel], v[~y])))
    # Same scene: a blurred copy and the sharp original of the same file name.
    originals = {os.path.basename(p): sign * scores[p] for p, b, k in rows
                 if not b and k == 'original'}
    wins = [(sign * scores[p] > originals[os.path.basename(p)]) +
            0.5 * (sign * scores[p] == originals[os.path.basename(p)])
            for p, b, _ in rows if b and os.path.basename(p) in originals]
    listed = np.array([(scores[p] > threshold) if higher_is_blurrier else (scores[p] < threshold)
                       for p, _, _ in rows])
    lines += ['', '- same-scene copies rated blurrier than their original: %.1f %% of %d' %
              (100 * np.mean(wins), len(wins)),
              '- sharp photos listed (%s %g): %.1f %% of %d' %
              ('>' if higher_is_blurrier else '<', threshold, 100 * listed[~y].mean(), (~y).sum()),
              '- blurred photos listed: %.1f %% of %d' % (100 * listed[y].mean(), y.sum()), '']
    print('\n'.join(lines))


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    valid = args[0]
    rows = read_labels(valid)
    for method in args[1:]:
        if method == '--laplacian':
            report('variance of the Laplacian', rows, laplacian_scores(rows), 100.0, False)
            continue
        name, rest = method.rsplit('=', 1)
        parts = rest.split(':')
        threshold = float(parts[1]) if len(parts) > 1 else 50.0
        higher = parts[2] != 'lower' if len(parts) > 2 else True
        report(name, rows, read_scores(parts[0]), threshold, higher)


if __name__ == '__main__':
    main()
