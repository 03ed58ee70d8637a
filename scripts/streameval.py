"""Scoring of detection and labels on stream recordings with ground truth
(STREAM.csv beside STREAM.flac: onset_time_seconds,class,source_file), and the
changed-background variants of a stream. Shared by evaluate-streams and
search-segmentation."""
import csv, json, os, subprocess, sys, tempfile

import numpy as np

RATE = 44100
LEAD = 3.0  # seconds before the stream in the lead-in variants
VARIANTS = ("plain", "silence-lead", "noise-lead", "step-up", "step-down")


def read_audio(path):
    """Mono float32 samples and the sample rate, through sox."""
    rate = int(subprocess.run(["soxi", "-r", path], capture_output=True, text=True, check=True).stdout)
    raw = subprocess.run(["sox", path, "-t", "f32", "-c", "1", "-"], capture_output=True, check=True).stdout
    return np.frombuffer(raw, dtype=np.float32).copy(), rate


def write_wav(path, x, rate):
    subprocess.run(["sox", "-t", "f32", "-r", str(rate), "-c", "1", "-", "-e", "floating-point", "-b", "32", path],
                   input=np.asarray(x, dtype=np.float32).tobytes(), check=True)


def read_truth(stream):
    with open(os.path.splitext(stream)[0] + ".csv") as f:
        return [(float(r["onset_time_seconds"]), r["class"]) for r in csv.DictReader(f)]


def background_rms(x, rate):
    """RMS of the stream's own background: the 10th percentile of 50 ms frames."""
    n = int(0.05 * rate)
    frames = x[: len(x) // n * n].reshape(-1, n).astype(np.float64)
    return float(np.percentile(np.sqrt((frames ** 2).mean(axis=1)), 10))


def brown_noise(n, rms, seed, rate=RATE):
    """Integrated white noise at that RMS; a 0.5 s moving average taken off
    keeps it from drifting (a high-pass near 2 Hz)."""
    y = np.cumsum(np.random.default_rng(seed).standard_normal(n))
    k = int(0.5 * rate)
    c = np.concatenate([[0.0], np.cumsum(y)])
    lo = np.clip(np.arange(n) - k // 2, 0, n)
    hi = np.clip(np.arange(n) + k // 2 + 1, 0, n)
    y = y - (c[hi] - c[lo]) / (hi - lo)
    return (y * (rms / np.sqrt((y ** 2).mean()))).astype(np.float32)


def make_variant(name, x, rate, truth, seed=1):
    """The stream changed as the variant says, and its ground truth."""
    if name == "plain":
        return x, truth
    lead = int(LEAD * rate)
    if name == "silence-lead":
        return np.concatenate([np.zeros(lead, np.float32), x]), [(t + LEAD, c) for t, c in truth]
    if name == "noise-lead":
        noise = np.random.default_rng(seed).standard_normal(lead).astype(np.float32) * np.float32(10 ** (-80 / 20))
        return np.concatenate([noise, x]), [(t + LEAD, c) for t, c in truth]
    half = len(x) // 2
    noise = brown_noise(len(x), background_rms(x, rate) * 10 ** (15 / 20), seed)
    y = x.copy()
    if name == "step-up":
        y[half:] += noise[half:]
    elif name == "step-down":
        y[:half] += noise[:half]
    else:
        raise ValueError(name)
    return np.clip(y, -1, 1), truth


def run_runner(runner, config, path):
    out = subprocess.run([runner, "--config", config, path], capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit("runner failed on %s: %s" % (path, out.stderr.strip()))
    return [json.loads(l) for l in out.stdout.splitlines() if l.strip()]


def reference_onsets(path):
    """aubioonset, spectral flux, threshold 0.3, 200 ms minimum gap."""
    out = subprocess.run(["aubioonset", "-i", path, "-O", "specflux", "-t", "0.3", "-M", "0.2"],
                         capture_output=True, text=True, check=True)
    return [float(l) for l in out.stdout.split()]


def match(truth, onsets, collar):
    """Greedy matching in truth order, each truth onset to the nearest unused
    found onset within the collar. Returns [(truth index, found index)]."""
    used = [False] * len(onsets)
    pairs = []
    for ti, (t, _) in enumerate(truth):
        best, dist = None, collar
        for i, o in enumerate(onsets):
            d = abs(o - t)
            if not used[i] and d <= dist:
                best, dist = i, d
        if best is not None:
            used[best] = True
            pairs.append((ti, best))
    return pairs


class Tally:
    """Detection counts and (truth class, label) pairs of matched events."""

    def __init__(self):
        self.tp = self.fp = self.fn = 0
        self.labels = []

    def add(self, truth, events, collar, labelled=True):
        onsets = [e["onset"] for e in events] if labelled else events
        pairs = match(truth, onsets, collar)
        self.tp += len(pairs)
        self.fp += len(onsets) - len(pairs)
        self.fn += len(truth) - len(pairs)
        if labelled:
            self.labels += [(truth[ti][1], events[fi]["class"]) for ti, fi in pairs]

    def merge(self, other):
        self.tp += other.tp
        self.fp += other.fp
        self.fn += other.fn
        self.labels += other.labels

    def prf(self):
        p = self.tp / (self.tp + self.fp) if self.tp + self.fp else 0.0
        r = self.tp / (self.tp + self.fn) if self.tp + self.fn else 0.0
        return p, r, (2 * p * r / (p + r) if p + r else 0.0)

    def label_accuracy(self):
        return sum(t == l for t, l in self.labels) / len(self.labels) if self.labels else 0.0

    def classes(self):
        return sorted({t for t, _ in self.labels} | {l for _, l in self.labels})

    def recalls(self):
        out = {}
        for c in sorted({t for t, _ in self.labels}):
            got = [l for t, l in self.labels if t == c]
            out[c] = sum(l == c for l in got) / len(got)
        return out

    def balanced_accuracy(self):
        r = self.recalls()
        return sum(r.values()) / len(r) if r else 0.0

    def summary(self):
        p, r, f = self.prf()
        return dict(tp=self.tp, fp=self.fp, fn=self.fn, precision=p, recall=r, f1=f,
                    label_accuracy=self.label_accuracy(), balanced_accuracy=self.balanced_accuracy())


def prepare(streams, variants, work):
    """Writes the variants of every stream into work. Returns a list of
    (stream name, variant, audio path, ground truth)."""
    items = []
    for stream in streams:
        truth0 = read_truth(stream)
        x = rate = None
        for v in variants:
            if v == "plain":
                items.append((os.path.basename(stream), v, stream, truth0))
                continue
            if x is None:
                x, rate = read_audio(stream)
            y, truth = make_variant(v, x, rate, truth0)
            path = os.path.join(work, "%s.%s.wav" % (os.path.basename(stream), v))
            write_wav(path, y, rate)
            items.append((os.path.basename(stream), v, path, truth))
    return items


def score(items, config, runner, collar=0.2, reference=False, jobs=1):
    """Runs every prepared item. Returns ({variant: (Tally, reference Tally
    or None)}, [(stream, variant, Tally, reference Tally or None)])."""
    from concurrent.futures import ThreadPoolExecutor

    def one(item):
        name, v, path, truth = item
        t = Tally()
        t.add(truth, run_runner(runner, config, path), collar)
        rt = None
        if reference:
            rt = Tally()
            rt.add(truth, reference_onsets(path), collar, labelled=False)
        return name, v, t, rt

    with ThreadPoolExecutor(max_workers=jobs) as pool:
        rows = list(pool.map(one, items))
    result = {}
    for _, v, t, rt in rows:
        mine, ref = result.setdefault(v, (Tally(), Tally() if reference else None))
        mine.merge(t)
        if rt:
            ref.merge(rt)
    return result, rows
