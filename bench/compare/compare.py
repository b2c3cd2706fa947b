#!/usr/bin/env python3
"""Compares Corvath with other lossless coders on real and generated pictures.

For every picture of the corpus (python3-skimage's photographs and figures,
generated screen-like and noise frames) it measures the compression ratio and
the encode and decode speed, single-threaded, of

  - Corvath as a library (compare_coders, linked with quelmux_codec) and as the
    whole programs quelmux and crvtdec --compare on a movie of the picture;
  - CharLS (JPEG-LS) and PNG (libpng) as libraries, through compare_coders;
  - cwebp/dwebp, cjxl/djxl and zstd as command-line tools;

and of quelmux and crvtdec on 2 and on every CPU and of cjxl -e 1, cwebp -mt and
zstd -T0 on every CPU, checks that every coder gives the pixels back, and writes the tables as
Markdown, the raw figures as JSON and a plot of ratio against encode speed.
scripts/compare.sh is the one command that builds and runs it.
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import json
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Callable, Iterable, Optional

REPO = Path(__file__).resolve().parents[2]
SKIMAGE_DATA = Path("/usr/lib/python3/dist-packages/skimage/data")
MB = 1e6

# ---------------------------------------------------------------------------
# Coders

# Library coders of compare_coders, external tools, and the whole programs.
LIBRARY, TOOL, PROGRAM = "library", "tool", "program"


@dataclasses.dataclass(frozen=True)
class Coder:
    id: str
    label: str            # column heading
    kind: str
    programs: tuple = ()  # tools this coder needs, by name
    encode: tuple = ()    # TOOL: command templates, {src} {coded} {out}
    decode: tuple = ()
    source: str = "ppm"   # TOOL: what it reads, "ppm" or "raw" (the RGB bytes alone)
    ours: bool = False
    threads: str = "1"    # PROGRAM: quelmux's and crvtdec's -j ("" for their default, every CPU)
    wall: bool = False    # TOOL: a multi-threaded mode, timed by the wall clock as the programs are


CODERS = (
    Coder("crvt", "Corvath", LIBRARY, ours=True),
    Coder("quelmux", "quelmux / crvtdec", PROGRAM, programs=("quelmux", "mkmovie", "crvtdec"), ours=True),
    Coder("quelmux-j2", "quelmux / crvtdec -j 2", PROGRAM, programs=("quelmux", "mkmovie", "crvtdec"), ours=True,
          threads="2"),
    Coder("quelmux-mt", "quelmux / crvtdec, all threads", PROGRAM, programs=("quelmux", "mkmovie", "crvtdec"),
          ours=True, threads=""),
    Coder("charls-line", "CharLS line", LIBRARY),
    Coder("charls-none", "CharLS default", LIBRARY),
    Coder("webp-z0", "WebP z0", TOOL, programs=("cwebp", "dwebp"),
          encode=("cwebp", "-quiet", "-lossless", "-z", "0", "{src}", "-o", "{coded}"),
          decode=("dwebp", "-quiet", "{coded}", "-ppm", "-o", "{out}")),
    Coder("webp-z6", "WebP z6", TOOL, programs=("cwebp", "dwebp"),
          encode=("cwebp", "-quiet", "-lossless", "-z", "6", "{src}", "-o", "{coded}"),
          decode=("dwebp", "-quiet", "{coded}", "-ppm", "-o", "{out}")),
    # cjxl's 0 means "no worker threads"; djxl's 0 means "as many as the
    # machine has", so it is given 1.
    Coder("jxl-e1", "JPEG XL e1", TOOL, programs=("cjxl", "djxl"),
          encode=("cjxl", "{src}", "{coded}", "-d", "0", "-e", "1", "--num_threads=0", "--quiet"),
          decode=("djxl", "{coded}", "{out}", "--num_threads=1", "--quiet")),
    Coder("jxl-e3", "JPEG XL e3", TOOL, programs=("cjxl", "djxl"),
          encode=("cjxl", "{src}", "{coded}", "-d", "0", "-e", "3", "--num_threads=0", "--quiet"),
          decode=("djxl", "{coded}", "{out}", "--num_threads=1", "--quiet")),
    # The peers' multi-threaded modes, every CPU.
    Coder("jxl-e1-mt", "JPEG XL e1, all threads", TOOL, programs=("cjxl", "djxl"), wall=True,
          encode=("cjxl", "{src}", "{coded}", "-d", "0", "-e", "1", "--num_threads=-1", "--quiet"),
          decode=("djxl", "{coded}", "{out}", "--num_threads=0", "--quiet")),
    Coder("webp-z0-mt", "WebP z0 -mt", TOOL, programs=("cwebp", "dwebp"), wall=True,
          encode=("cwebp", "-quiet", "-mt", "-lossless", "-z", "0", "{src}", "-o", "{coded}"),
          decode=("dwebp", "-quiet", "-mt", "{coded}", "-ppm", "-o", "{out}")),
    Coder("zstd-3-mt", "zstd -3 -T0", TOOL, programs=("zstd",), source="raw", wall=True,
          encode=("zstd", "-q", "-f", "-3", "-T0", "{src}", "-o", "{coded}"),
          decode=("zstd", "-q", "-f", "-d", "{coded}", "-o", "{out}")),
    Coder("png-default", "PNG default", LIBRARY),
    Coder("png-fastest", "PNG fastest", LIBRARY),
    Coder("zstd-3", "zstd -3", TOOL, programs=("zstd",), source="raw",
          encode=("zstd", "-q", "-f", "-3", "-T1", "{src}", "-o", "{coded}"),
          decode=("zstd", "-q", "-f", "-d", "{coded}", "-o", "{out}")),
)

CODER_NOTES = {
    "crvt": "CodecInst::CompressContinue on the bottom-up BGR frame, FrameDecoder::Decode back",
    "quelmux": "whole programs: quelmux -j 1 on a movie of the picture repeated (mkmovie --ppm), "
               "crvtdec -j 1 --compare on its output; ratio of the AVI file",
    "quelmux-j2": "the same with -j 2 (two threads)",
    "quelmux-mt": "the same with every CPU (their default)",
    "jxl-e1-mt": "cjxl -d 0 -e 1 / djxl, every CPU; wall time",
    "webp-z0-mt": "cwebp -mt -lossless -z 0 / dwebp -mt; wall time",
    "zstd-3-mt": "zstd -3 -T0 (every CPU); wall time",
    "charls-line": "CharLS, interleave mode line (the faster of its modes that take interleaved RGB)",
    "charls-none": "CharLS, its default interleave mode none (the picture handed over as planes)",
    "webp-z0": "cwebp -lossless -z 0 / dwebp",
    "webp-z6": "cwebp -lossless -z 6 / dwebp",
    "jxl-e1": "cjxl -d 0 -e 1 / djxl, one thread",
    "jxl-e3": "cjxl -d 0 -e 3 / djxl, one thread",
    "png-default": "libpng, zlib level 6 (its default), libpng's filter choice",
    "png-fastest": "libpng, zlib level 1 (fastest), libpng's filter choice",
    "zstd-3": "zstd -3 -T1 on the raw RGB bytes",
}

# ---------------------------------------------------------------------------
# Corpus

PHOTOS_COLOUR, PHOTOS_GREY = "Photographs (colour)", "Photographs (greyscale as RGB)"
FIGURES, SCREEN, NOISE = "Figures", "Screen-like", "Noise"
GROUPS = (PHOTOS_COLOUR, PHOTOS_GREY, FIGURES, SCREEN, NOISE)
PHOTOGRAPHS = (PHOTOS_COLOUR, PHOTOS_GREY)

# python3-skimage's photographs; its other PNG files are figures.
COLOUR_PHOTOS = {"astronaut", "chelsea", "coffee", "ihc", "motorcycle_left", "motorcycle_right"}
GREY_PHOTOS = {"brick", "camera", "cell", "clock_motion", "coins", "grass", "gravel",
               "microaneurysms", "moon", "page", "text"}
MIN_PIXELS = 10000  # smaller pictures (icons, 10 x 10 test patterns) say nothing about speed

# Generated pictures: name, group, compare_coders generate kind, size, seed.
GENERATED = (
    ("mosaic-1080p", PHOTOS_COLOUR, "photo-mosaic", (1920, 1080), 1),
    ("screen-1080p", SCREEN, "screen", (1920, 1080), 1),
    ("screen-720p", SCREEN, "screen", (1280, 720), 2),
    ("desktop-1080p", SCREEN, "desktop", (1920, 1080), 1),
    ("noise-1080p", NOISE, "noise", (1920, 1080), 1),
    ("noise-512", NOISE, "noise", (512, 512), 2),
)
QUICK = (
    ("tiny-screen", SCREEN, "screen", (48, 32), 1),
    ("tiny-noise", NOISE, "noise", (37, 23), 1),
)


@dataclasses.dataclass
class Picture:
    name: str
    group: str
    png: Optional[Path] = None   # read from this file ...
    generate: tuple = ()         # ... or made: (kind, (w, h), seed)
    width: int = 0
    height: int = 0
    ppm: Optional[Path] = None
    raw: Optional[Path] = None

    @property
    def raw_bytes(self) -> int:
        return 3 * self.width * self.height


def png_size_and_colour(path: Path) -> tuple[int, int, bool]:
    """Width, height and whether it has colour, from the PNG's header."""
    head = path.read_bytes()[:26]
    if len(head) < 26 or head[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    width, height = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
    return width, height, head[25] in (2, 3, 6)


def skimage_corpus(data_dir: Path) -> tuple[list[Picture], list[str]]:
    pictures, skipped = [], []
    for path in sorted(data_dir.glob("*.png")):
        width, height, _ = png_size_and_colour(path)
        if width * height < MIN_PIXELS:
            skipped.append(f"{path.stem} ({width} × {height})")
            continue
        group = PHOTOS_COLOUR if path.stem in COLOUR_PHOTOS else PHOTOS_GREY if path.stem in GREY_PHOTOS else FIGURES
        pictures.append(Picture(path.stem, group, png=path))
    return pictures, skipped


def generated_corpus(entries) -> list[Picture]:
    return [Picture(name, group, generate=(kind, size, seed)) for name, group, kind, size, seed in entries]


def corpus_order(pictures: list[Picture]) -> list[Picture]:
    return sorted(pictures, key=lambda p: (GROUPS.index(p.group), p.name))


# ---------------------------------------------------------------------------
# Running programs


@dataclasses.dataclass
class Run:
    returncode: int
    cpu: float   # user + system seconds of the process
    wall: float
    stdout: str
    stderr: str


def run(cmd: list[str], timeout: float = 1800, keep_stdout: bool = True) -> Run:
    """Runs cmd and measures it; the CPU time comes from the kernel's account
    of the child, so nothing else running on the machine adds to it."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL,
                                stdout=out if keep_stdout else subprocess.DEVNULL, stderr=err)
        timer = threading.Timer(timeout, proc.kill)
        timer.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            timer.cancel()
        wall = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return Run(proc.returncode, usage.ru_utime + usage.ru_stime, wall,
                   out.read().decode(errors="replace"), err.read().decode(errors="replace"))


def check_run(cmd: list[str], what: str) -> Run:
    r = run(cmd)
    if r.returncode != 0:
        raise RuntimeError(f"{what} failed ({r.returncode}): {' '.join(cmd)}\n{r.stderr.strip()}")
    return r


def read_ppm(path: Path) -> tuple[int, int, bytes]:
    """Width, height and pixel bytes of a binary PPM with 8-bit samples."""
    data = path.read_bytes()
    fields, pos = [], 0
    while len(fields) < 4:
        while pos < len(data) and data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while pos < len(data) and data[pos] != 0x0A:
                pos += 1
            continue
        start = pos
        while pos < len(data) and not data[pos:pos + 1].isspace():
            pos += 1
        if start == pos:
            raise ValueError(f"{path}: truncated PPM header")
        fields.append(data[start:pos])
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"{path}: not an 8-bit P6 image")
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:]


# ---------------------------------------------------------------------------
# Results


@dataclasses.dataclass
class Result:
    """One coder on one picture. status is "ok", "n/a" (a tool is missing),
    "lossy" (decoding did not give the pixels back) or "failed"; a decode
    of its own status covers the whole programs, whose decoder may be
    missing while the encoder is there."""
    status: str
    raw_bytes: int = 0           # bytes of frames coded (frames x picture for the programs)
    coded_bytes: int = 0
    encode_seconds: float = 0.0
    decode_seconds: float = 0.0
    decode_status: str = ""
    note: str = ""

    def __post_init__(self):
        if not self.decode_status:
            self.decode_status = self.status

    def ratio(self) -> Optional[float]:
        return self.raw_bytes / self.coded_bytes if self.status == "ok" and self.coded_bytes else None

    def encode_speed(self) -> Optional[float]:
        return self.raw_bytes / MB / self.encode_seconds if self.status == "ok" and self.encode_seconds > 0 else None

    def decode_speed(self) -> Optional[float]:
        ok = self.status == "ok" and self.decode_status == "ok" and self.decode_seconds > 0
        return self.raw_bytes / MB / self.decode_seconds if ok else None


@dataclasses.dataclass
class Scaling:
    """The programs on one movie at several thread counts ("" is their
    default, every CPU): best wall seconds and peak resident KiB per task
    and count."""
    picture: str
    width: int
    height: int
    frames: int
    raw_bytes: int
    counts: list
    seconds: dict = dataclasses.field(default_factory=dict)
    peak_kb: dict = dataclasses.field(default_factory=dict)
    cp_seconds: float = math.inf

    def add(self, task: str, count: str, seconds: float, peak_kb: int) -> None:
        self.seconds.setdefault(task, {})[count] = seconds
        self.peak_kb.setdefault(task, {})[count] = peak_kb


SCALING_TARGETS = (("quelmux", 1.8), ("crvtdec --compare", 1.8), ("crvtdec --frames --png", 1.8))


METRICS = ("ratio", "encode", "decode")


def metric(result: Result, which: str) -> Optional[float]:
    return {"ratio": result.ratio, "encode": result.encode_speed, "decode": result.decode_speed}[which]()


def failure(result: Result, which: str) -> str:
    return result.decode_status if which == "decode" and result.status == "ok" else result.status


def aggregate(results: list[Result], which: str, how: str) -> Optional[float]:
    """The total (bytes over bytes, bytes over seconds) or the median of the
    per-picture values; None unless every picture has a value."""
    values = [metric(r, which) for r in results]
    if not values or any(v is None for v in values):
        return None
    if how == "median":
        return statistics.median(values)
    raw = sum(r.raw_bytes for r in results)
    if which == "ratio":
        return raw / sum(r.coded_bytes for r in results)
    seconds = sum(r.encode_seconds if which == "encode" else r.decode_seconds for r in results)
    return raw / MB / seconds


# ---------------------------------------------------------------------------
# Measuring


class Comparison:
    def __init__(self, tools: dict[str, Optional[str]], work: Path, runs: int, program_runs: int,
                 frames: int, min_time: float):
        self.tools = tools
        self.work = work
        self.runs = runs
        self.program_runs = program_runs
        self.frames = frames
        self.min_time = min_time
        self.startup: dict[str, Result] = {}
        self.library_coders = set(check_run([self.tool("compare_coders"), "coders"], "compare_coders").stdout.split())

    def tool(self, name: str) -> Optional[str]:
        return self.tools.get(name)

    def missing(self, coder: Coder) -> list[str]:
        needed = list(coder.programs)
        if coder.kind == PROGRAM:
            needed = [p for p in needed if p != "crvtdec"]  # only its decode column needs it
        return [p for p in needed if not self.tool(p)]

    # -- pictures

    def prepare(self, picture: Picture) -> None:
        picture.ppm = self.work / f"{picture.name}.ppm"
        cc = self.tool("compare_coders")
        if picture.png is not None:
            check_run([cc, "png-to-ppm", str(picture.png), str(picture.ppm)], "png-to-ppm")
        else:
            kind, (w, h), seed = picture.generate
            check_run([cc, "generate", kind, f"{w}x{h}", str(seed), str(picture.ppm)], "generate")
        picture.width, picture.height, pixels = read_ppm(picture.ppm)
        picture.raw = self.work / f"{picture.name}.rgb"
        picture.raw.write_bytes(pixels)

    def cleanup(self, picture: Picture) -> None:
        for path in self.work.glob(f"{picture.name}.*"):
            path.unlink()

    # -- library coders

    def measure_libraries(self, picture: Picture, coders: list[Coder]) -> dict[str, Result]:
        results = {c.id: Result("n/a", note="not in this build of compare_coders")
                   for c in coders if c.id not in self.library_coders}
        wanted = [c.id for c in coders if c.id in self.library_coders]
        if not wanted:
            return results
        cmd = [self.tool("compare_coders"), "measure", "--runs", str(self.runs), "--min-time",
               str(self.min_time), str(picture.ppm), *wanted]
        r = run(cmd)
        for line in r.stdout.splitlines():
            m = json.loads(line)
            if m["error"]:
                results[m["coder"]] = Result("failed", note=m["error"])
            elif not m["lossless"]:
                results[m["coder"]] = Result("lossy", note="decoded picture differs")
            else:
                results[m["coder"]] = Result("ok", m["raw_bytes"], m["coded_bytes"], m["encode_seconds"],
                                             m["decode_seconds"])
        for coder_id in wanted:
            if coder_id not in results:
                results[coder_id] = Result("failed", note=r.stderr.strip()[-300:] or f"exit {r.returncode}")
        return results

    # -- command-line tools

    def command(self, template: tuple, **paths) -> list[str]:
        program = self.tool(template[0])
        return [program] + [part.format(**{k: str(v) for k, v in paths.items()}) for part in template[1:]]

    def best_cpu(self, cmd: list[str], runs: int) -> tuple[Optional[Run], float]:
        best = math.inf
        last = None
        for _ in range(runs):
            last = run(cmd, keep_stdout=False)
            if last.returncode != 0:
                return last, best
            best = min(best, last.cpu)
        return last, best

    def startup_cost(self, coder: Coder) -> Result:
        """The tool's CPU time on a picture of 8 x 8 pixels: loading and
        setting up the program, which a library user pays once."""
        if coder.id not in self.startup:
            tiny = Picture(f"startup-{coder.id}", NOISE, generate=("noise", (8, 8), 1))
            self.prepare(tiny)
            try:
                self.startup[coder.id] = self.measure_tool_raw(coder, tiny, verify=False)
            finally:
                self.cleanup(tiny)
        return self.startup[coder.id]

    def measure_tool_raw(self, coder: Coder, picture: Picture, verify: bool = True) -> Result:
        src = picture.ppm if coder.source == "ppm" else picture.raw
        coded = self.work / f"{picture.name}.{coder.id}.coded"
        # Decoders that can write several formats take it from the name.
        out = self.work / f"{picture.name}.{coder.id}.out{'.ppm' if coder.source == 'ppm' else ''}"
        # A multi-threaded mode is timed by the clock: its CPU time counts every thread.
        best = (lambda cmd, n: self.best_wall(cmd, n, lambda r: True)) if coder.wall else self.best_cpu
        enc, enc_cpu = best(self.command(coder.encode, src=src, coded=coded), self.runs)
        if enc.returncode != 0:
            return Result("failed", note=enc.stderr.strip()[-300:] or f"exit {enc.returncode}")
        dec, dec_cpu = best(self.command(coder.decode, coded=coded, out=out), self.runs)
        if dec.returncode != 0:
            return Result("failed", note=dec.stderr.strip()[-300:] or f"exit {dec.returncode}")
        if verify:
            # The pixels must come back, bit for bit.
            try:
                if coder.source == "raw":
                    same = out.read_bytes() == picture.raw.read_bytes()
                else:
                    same = read_ppm(out) == read_ppm(picture.ppm)
            except (OSError, ValueError) as e:
                return Result("lossy", note=f"no picture decoded: {e}")
            if not same:
                return Result("lossy", note="decoded picture differs")
        return Result("ok", picture.raw_bytes, coded.stat().st_size, enc_cpu, dec_cpu)

    def measure_tool(self, coder: Coder, picture: Picture) -> Result:
        if missing := self.missing(coder):
            return Result("n/a", note="missing: " + ", ".join(missing))
        startup = self.startup_cost(coder)
        if startup.status != "ok":
            return Result("failed", note=f"fails on an 8 × 8 picture: {startup.note}")
        r = self.measure_tool_raw(coder, picture)
        if r.status == "ok":
            # Never below a tenth of the measured time: on tiny pictures the
            # start-up dominates and the difference is noise.
            r.encode_seconds = max(r.encode_seconds - startup.encode_seconds, r.encode_seconds / 10)
            r.decode_seconds = max(r.decode_seconds - startup.decode_seconds, r.decode_seconds / 10)
        return r

    # -- whole programs

    def best_wall(self, cmd: list[str], runs: int, check: Callable[[Run], bool]) -> tuple[Optional[Run], float]:
        best = math.inf
        last = None
        for _ in range(runs):
            last = run(cmd)
            if last.returncode != 0 or not check(last):
                return last, math.inf
            best = min(best, last.wall)
        return last, best

    def measure_programs(self, coder: Coder, picture: Picture) -> Result:
        if missing := self.missing(coder):
            return Result("n/a", note="missing: " + ", ".join(missing))
        movie = self.work / f"{picture.name}.mov"
        avi = self.work / f"{picture.name}.avi"
        frames = self.frames
        check_run([self.tool("mkmovie"), "--size", f"{picture.width}x{picture.height}", "--frames", str(frames),
                   "--ppm", str(picture.ppm), "--quiet", str(movie)], "mkmovie")
        jobs = ["-j", coder.threads] if coder.threads else []
        enc, enc_wall = self.best_wall([self.tool("quelmux"), *jobs, str(movie), str(avi)], self.program_runs,
                                       lambda r: "Finished writing file" in r.stdout)
        if enc_wall == math.inf:
            return Result("failed", note=(enc.stdout + enc.stderr).strip()[-300:])
        # quelmux's output, frame by frame, whether or not crvtdec is there.
        verify = run([self.tool("compare_coders"), "check-avi", str(avi), str(picture.ppm), str(frames)])
        if verify.returncode != 0:
            return Result("lossy", note=verify.stdout.strip() + verify.stderr.strip())
        result = Result("ok", frames * picture.raw_bytes, avi.stat().st_size, enc_wall, 0.0,
                        decode_status="n/a", note="crvtdec not built")
        if self.tool("crvtdec"):
            expected = f"{frames} frames identical"
            dec, dec_wall = self.best_wall([self.tool("crvtdec"), *jobs, "--compare", str(avi), str(movie)],
                                           self.program_runs, lambda r: expected in r.stdout)
            if dec_wall == math.inf:
                said = (dec.stdout + dec.stderr).strip()
                # It exits 1 for a frame that differs and for any other failure.
                result.decode_status = "lossy" if "differ" in said.lower() else "failed"
                result.note = said[-300:]
            else:
                result.decode_status, result.decode_seconds, result.note = "ok", dec_wall, ""
        movie.unlink()
        avi.unlink()
        return result

    # -- thread scaling

    def measure_threads(self, picture: Picture, counts: list[str]) -> "Scaling":
        """Every program on one movie of the picture with each thread count
        of `counts`: best wall time and peak resident size; quelmux -u also
        against cp of the same movie."""
        self.prepare(picture)
        scaling = Scaling(picture.name, picture.width, picture.height, self.frames,
                          self.frames * picture.raw_bytes, counts)
        work = self.work / "threads"
        work.mkdir()
        try:
            movie, avi, plain, copy = work / "movie.mov", work / "out.avi", work / "plain.avi", work / "copy.mov"
            check_run([self.tool("mkmovie"), "--size", f"{picture.width}x{picture.height}", "--frames",
                       str(self.frames), "--ppm", str(picture.ppm), "--quiet", str(movie)], "mkmovie")
            images = work / "images"
            images.mkdir()
            done = f"{self.frames} frames identical"
            for n in counts:
                jobs = ["-j", n] if n else []
                tasks = (("quelmux", [self.tool("quelmux"), *jobs, str(movie), str(avi)],
                          lambda r: "Finished writing file" in r.stdout),
                         ("quelmux -u", [self.tool("quelmux"), *jobs, "-u", str(movie), str(plain)],
                          lambda r: "Finished writing file" in r.stdout),
                         ("crvtdec --compare", [self.tool("crvtdec"), *jobs, "--compare", str(avi), str(movie)],
                          lambda r: done in r.stdout),
                         ("crvtdec --frames --png", [self.tool("crvtdec"), *jobs, "--frames", "--png", str(avi),
                                                     str(images / "f%03d.png")], lambda r: True))
                # In this order: crvtdec reads the AVI that quelmux of the same count wrote.
                for task, cmd, check in tasks:
                    if cmd[0] is None:  # not built
                        continue
                    wall, peak = self.best_wall_and_peak(cmd, check)
                    scaling.add(task, n, wall, peak)
            _, cp_wall = self.best_wall(["cp", str(movie), str(copy)], self.program_runs, lambda r: True)
            scaling.cp_seconds = cp_wall
        finally:
            shutil.rmtree(work, ignore_errors=True)
            self.cleanup(picture)
        return scaling

    def best_wall_and_peak(self, cmd: list[str], check: Callable[[Run], bool]) -> tuple[float, int]:
        """best_wall of cmd, and the peak resident size (KiB) of its last run,
        run through GNU time: as a child of this process, its peak would
        count the Python interpreter's, which the kernel carries across exec
        (0 without GNU time)."""
        with tempfile.NamedTemporaryFile("r") as report:
            timed = [self.tool("time"), "-f", "%M", "-o", report.name, *cmd] if self.tool("time") else cmd
            _, wall = self.best_wall(timed, self.program_runs, check)
            text = report.read().strip()
            return wall, int(text.splitlines()[-1]) if wall != math.inf and text else 0

    # -- one picture

    def measure(self, picture: Picture, coders: list[Coder]) -> dict[str, Result]:
        self.prepare(picture)
        try:
            results = self.measure_libraries(picture, [c for c in coders if c.kind == LIBRARY])
            for coder in coders:
                if coder.kind == TOOL:
                    results[coder.id] = self.measure_tool(coder, picture)
                elif coder.kind == PROGRAM:
                    results[coder.id] = self.measure_programs(coder, picture)
        finally:
            self.cleanup(picture)
        return {c.id: results[c.id] for c in coders}


# ---------------------------------------------------------------------------
# Tables


def brief(r: Result) -> str:
    """ratio/encode/decode for the progress lines."""
    return "/".join(cell(metric(r, m), m, failure(r, m)) for m in METRICS)


def fmt_ratio(v: float) -> str:
    return f"{v:.2f}" if v < 10 else f"{v:.1f}" if v < 100 else f"{v:.0f}"


def fmt_speed(v: float) -> str:
    return f"{v:.2f}" if v < 10 else f"{v:.1f}" if v < 100 else f"{v:.0f}"


def cell(value: Optional[float], which: str, otherwise: str) -> str:
    if value is None:
        return otherwise
    return fmt_ratio(value) if which == "ratio" else fmt_speed(value)


def markdown_table(header: list[str], rows: list[list[str]], right_from: int = 1) -> str:
    align = ["---" if i < right_from else "---:" for i in range(len(header))]
    lines = ["| " + " | ".join(header) + " |", "| " + " | ".join(align) + " |"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return "\n".join(lines)


def group_results(pictures: list[Picture], results: dict, coder_id: str, groups: Iterable[str]) -> list[Result]:
    groups = set(groups)
    return [results[p.name][coder_id] for p in pictures if p.group in groups]


def aggregate_cell(rs: list[Result], which: str, how: str) -> str:
    value = aggregate(rs, which, how)
    if value is not None:
        return cell(value, which, "")
    statuses = {failure(r, which) for r in rs if metric(r, which) is None}
    return "n/a" if statuses == {"n/a"} or not rs else "/".join(sorted(statuses))


def picture_table(pictures: list[Picture], results: dict, coders: list[Coder], which: str) -> str:
    """One row per picture, grouped, with a total and a median row per group
    and for all pictures."""
    header = ["Picture", "Size"] + [c.label for c in coders]
    rows = []
    for group in GROUPS:
        members = [p for p in pictures if p.group == group]
        if not members:
            continue
        rows.append([f"**{group}**", ""] + [""] * len(coders))
        for p in members:
            row = [p.name, f"{p.width}×{p.height}"]
            for c in coders:
                r = results[p.name][c.id]
                row.append(cell(metric(r, which), which, failure(r, which)))
            rows.append(row)
        for how in ("total", "median"):
            rows.append([f"*{group.split(' (')[0].lower()} {how}*", ""] +
                        [aggregate_cell(group_results(pictures, results, c.id, [group]), which, how) for c in coders])
    for how in ("total", "median"):
        rows.append([f"**all {how}**", ""] +
                    [aggregate_cell(group_results(pictures, results, c.id, GROUPS), which, how) for c in coders])
    return markdown_table(header, rows, right_from=2)


# The summary: ratios by group, and speeds where the targets are and overall.
RATIO_COLUMNS = (("Photographs", PHOTOGRAPHS), ("colour", (PHOTOS_COLOUR,)), ("greyscale", (PHOTOS_GREY,)),
                 ("Figures", (FIGURES,)), ("Screen-like", (SCREEN,)), ("Noise", (NOISE,)), ("All", GROUPS))
SPEED_COLUMNS = (("Photographs", PHOTOGRAPHS), ("colour photographs", (PHOTOS_COLOUR,)), ("All", GROUPS))


def summary_table(pictures: list[Picture], results: dict, coders: list[Coder], which: str) -> str:
    """Totals of every coder: ratios by group ("ratio"), or encode and
    decode speeds ("speed")."""
    if which == "ratio":
        columns = [(title, groups, "ratio") for title, groups in RATIO_COLUMNS]
    else:
        columns = [(f"{title} {m}", groups, m) for title, groups in SPEED_COLUMNS for m in ("encode", "decode")]
    rows = []
    for c in coders:
        row = [f"**{c.label}**" if c.ours else c.label]
        for _, groups, m in columns:
            rs = group_results(pictures, results, c.id, groups)
            row.append(aggregate_cell(rs, m, "total") if rs else "–")
        rows.append(row)
    first = "Coder: compression ratio" if which == "ratio" else "Coder: MB/s"
    return markdown_table([first] + [title for title, _, _ in columns], rows)


@dataclasses.dataclass
class Target:
    text: str
    ours: str
    theirs: tuple
    which: str
    factor: float


TARGETS = (
    Target("Encoder against CharLS", "crvt", ("charls-line", "charls-none"), "encode", 10),
    Target("Encoder against cwebp -lossless -z 0", "crvt", ("webp-z0",), "encode", 15),
    Target("Decoder against CharLS", "crvt", ("charls-line", "charls-none"), "decode", 3),
)


def target_lines(pictures: list[Picture], results: dict, coders: list[Coder]) -> list[str]:
    """The speed targets on the photographs: our total speed over the
    fastest of the peers' (so CharLS counts in its faster mode)."""
    ids = {c.id for c in coders}
    lines = []
    for groups, name in ((PHOTOGRAPHS, "all photographs"), ((PHOTOS_COLOUR,), "colour photographs")):
        if not any(p.group in groups for p in pictures):
            continue
        for t in TARGETS:
            if t.ours not in ids or not ids.intersection(t.theirs):
                continue
            ours = aggregate(group_results(pictures, results, t.ours, groups), t.which, "total")
            theirs = [aggregate(group_results(pictures, results, i, groups), t.which, "total")
                      for i in t.theirs if i in ids]
            theirs = [v for v in theirs if v is not None]
            if ours is None or not theirs:
                lines.append(f"- {t.text} ({name}): not measured (a coder is missing or failed)")
                continue
            factor = ours / max(theirs)
            verdict = "met" if factor >= t.factor else (
                f"**missed**: {100 * (1 - factor / t.factor):.0f} % short; "
                f"{fmt_speed(t.factor * max(theirs))} MB/s would meet it")
            lines.append(f"- {t.text} ({name}): {fmt_speed(ours)} against {fmt_speed(max(theirs))} MB/s, "
                         f"{factor:.1f}× (target {t.factor:g}×): {verdict}")
    return lines


def plot_points(pictures: list[Picture], results: dict, coders: list[Coder]) -> list[tuple[str, float, float, bool]]:
    """Total ratio and encode speed of every coder over `pictures`."""
    points = []
    for c in coders:
        rs = [results[p.name][c.id] for p in pictures]
        ratio, speed = aggregate(rs, "ratio", "total"), aggregate(rs, "encode", "total")
        if ratio is not None and speed is not None:
            points.append((c.label.split(" / ")[0], speed, ratio, c.ours))
    return points


# Label placements around a point: gnuplot's justification and offset (in
# characters), and the side the text takes (dx, dy in -1, 1).
PLACEMENTS = (("left", 0.8, 0.7, 1, 1), ("left", 0.8, -0.7, 1, -1),
              ("right", -0.8, 0.7, -1, 1), ("right", -0.8, -0.7, -1, -1))
PLOT_WIDTH, PLOT_HEIGHT, CHAR_WIDTH, LINE_HEIGHT = 860, 480, 8, 16  # pixels, generously


def place_labels(points, x_range, y_range) -> list[tuple]:
    """For each point, the first placement of its label that overlaps no
    label placed before and no other point."""
    def pixel(speed, ratio):
        x = (math.log(speed) - math.log(x_range[0])) / (math.log(x_range[1]) - math.log(x_range[0]))
        y = (ratio - y_range[0]) / (y_range[1] - y_range[0])
        return x * PLOT_WIDTH, y * PLOT_HEIGHT

    def overlaps(a, b):
        return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]

    dots = [pixel(speed, ratio) for _, speed, ratio, _ in points]
    taken = [(x - 8, y - 8, x + 8, y + 8) for x, y in dots]
    chosen = []
    for (label, _, _, _), (x, y), dot in zip(points, dots, taken):
        width = CHAR_WIDTH * len(label)
        boxes = []
        for placement in PLACEMENTS:
            _, _, _, dx, dy = placement
            x0 = x + 8 if dx > 0 else x - 8 - width
            y0 = y + 3 if dy > 0 else y - 3 - LINE_HEIGHT
            boxes.append((placement, (x0, y0, x0 + width, y0 + LINE_HEIGHT)))
        free = [b for b in boxes if not any(overlaps(b[1], t) for t in taken if t is not dot)]
        placement, box = (free or boxes)[0]
        taken.append(box)
        chosen.append(placement)
    return chosen


def write_plot(points, path: Path, gnuplot: Optional[str], title: str) -> Optional[str]:
    """Ratio against encode speed (log scale), one point per coder. Returns
    why no plot was made, or None."""
    if not gnuplot:
        return "gnuplot not found"
    if not points:
        return "no coder measured"
    x_range = (min(p[1] for p in points) / 2, max(p[1] for p in points) * 3)
    low, high = min(p[2] for p in points), max(p[2] for p in points)
    pad = max(high - low, 0.5) * 0.12
    y_range = (max(0.0, low - pad), high + pad)
    data = path.with_suffix(".dat")
    data.write_text("".join(f"{speed:.6g} {ratio:.6g} {1 if ours else 2}\n" for _, speed, ratio, ours in points))
    labels = "".join(f'set label "{label}" at {speed:.6g},{ratio:.6g} {justify} offset {ox},{oy}\n'
                     for (label, speed, ratio, _), (justify, ox, oy, _, _)
                     in zip(points, place_labels(points, x_range, y_range)))
    script = f"""
set terminal pngcairo size 960,600 font "sans,11"
set output "{path}"
set title "{title}"
set logscale x
set xrange [{x_range[0]:.6g}:{x_range[1]:.6g}]
set yrange [{y_range[0]:.6g}:{y_range[1]:.6g}]
set xlabel "Encode speed, MB/s (one thread, log scale)"
set ylabel "Compression ratio (raw bytes / coded bytes)"
set grid
unset key
set linetype 1 lc rgb "#c0392b"
set linetype 2 lc rgb "#2c3e50"
{labels}
plot "{data}" using 1:2:3 with points pt 7 ps 1.6 lc variable
"""
    with tempfile.NamedTemporaryFile("w", suffix=".gp", delete=False) as f:
        f.write(script)
    try:
        r = run([gnuplot, f.name], timeout=120)
    finally:
        os.unlink(f.name)
        data.unlink()
    return None if r.returncode == 0 and path.exists() else f"gnuplot failed: {r.stderr.strip()[-200:]}"


# ---------------------------------------------------------------------------
# The report


def machine_description(compare_coders: str) -> dict:
    info = {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")}
    try:
        cpuinfo = Path("/proc/cpuinfo").read_text()
        info["cpu"] = re.search(r"model name\s*:\s*(.*)", cpuinfo).group(1).strip()
        flags = re.search(r"flags\s*:\s*(.*)", cpuinfo).group(1).split()
        info["simd"] = " ".join(f for f in ("sse4_2", "avx2", "avx512f") if f in flags)
    except (OSError, AttributeError):
        info["cpu"] = platform.processor() or "unknown"
    info["cpus"] = os.cpu_count()
    try:
        os_release = Path("/etc/os-release").read_text()
        info["os"] = re.search(r'PRETTY_NAME="(.*)"', os_release).group(1)
    except (OSError, AttributeError):
        info["os"] = platform.system()
    info["kernel"] = platform.release()
    try:
        info["commit"] = subprocess.run(["git", "-C", str(REPO), "describe", "--always", "--dirty"],
                                        capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        info["commit"] = "unknown"
    versions = {}
    for line in run([compare_coders, "versions"]).stdout.splitlines():
        name, _, version = line.partition(" ")
        if version:
            versions[name] = version
    info["versions"] = versions
    return info


def tool_versions(tools: dict) -> dict:
    commands = {"cwebp": ["-version"], "cjxl": ["--version"], "zstd": ["--version"], "gnuplot": ["--version"]}
    versions = {}
    for name, args in commands.items():
        if tools.get(name):
            found = re.search(r"\d+\.\d+(\.\d+)?( patchlevel \d+)?", run([tools[name], *args]).stdout)
            versions[name] = found.group(0) if found else "?"
    return versions


def runs(n: int) -> str:
    return f"{n} run" + ("" if n == 1 else "s")


def method_text(args, coders: list[Coder]) -> str:
    lines = [
        "Method:",
        "",
        f"- Library coders (Corvath, CharLS, PNG) run in one process, `compare_coders`, on the picture in "
        f"memory: the thread's CPU time of one encode or decode, best of at least {runs(args.runs)} "
        f"(and {args.min_time:g} s).",
        f"- Command-line tools (cwebp/dwebp, cjxl/djxl, zstd): CPU time (user + system) of the process, "
        f"best of {runs(args.runs)}, less the same command's time on an 8 × 8 picture (the start-up that a "
        f"library user pays once); input and output files in the page cache.",
        f"- Whole programs: `quelmux` on a movie of the picture repeated {args.frames} times (`mkmovie --ppm`), "
        f"and `crvtdec --compare` on the AVI it writes; MB/s of frames ({args.frames} × frame bytes ÷ wall "
        f"time), best of {runs(args.program_runs)}. quelmux's output is also checked frame by frame by "
        f"`compare_coders check-avi`.",
        "- Every coded picture is decoded and compared with the source pixels; a coder whose output differs "
        "is marked *lossy*, one that is not installed *n/a*, and neither counts in totals.",
        "- Ratio: raw bytes (3 a pixel) ÷ coded bytes. MB = 10⁶ bytes. Totals: all raw bytes ÷ all coded "
        "bytes or ÷ all seconds; medians over the pictures.",
        "",
        "Coders:",
        "",
    ]
    lines += [f"- **{c.label}**: {CODER_NOTES[c.id]}" for c in coders]
    return "\n".join(lines)


def summary_markdown(info: dict, pictures: list[Picture], results: dict, coders: list[Coder],
                     tables: str, plot: str, threads: str = "") -> str:
    """Date, machine, targets, the summary table and the plot: what the
    README shows. `tables` names where the per-picture tables are."""
    load = info.get("load", {})
    machine = (f"{info['cpu']} ({info['cpus']} CPUs), {info['os']}, Linux {info['kernel']}; "
               f"commit {info['commit']}; load average {load.get('start', '?')} at the start, "
               f"{load.get('end', '?')} at the end")
    targets = target_lines(pictures, results, coders)
    parts = [f"Measured {info['date']} on {machine}."]
    if targets:
        parts.append("Speed targets, single-threaded, on the photographs:\n\n" + "\n".join(targets))
    parts.append(f"Totals over each group of pictures (per picture: {tables}):\n\n" +
                 summary_table(pictures, results, coders, "ratio") + "\n\n" +
                 summary_table(pictures, results, coders, "speed"))
    if threads:
        parts.append(threads)
    parts.append(plot)
    return "\n\n".join(parts)


def thread_counts(cpus: int) -> list[str]:
    """1, 2 and 16 threads, and the default (every CPU) where it is none of them."""
    return ["1", "2", "16"] + ([] if cpus in (1, 2, 16) else [""])


def count_heading(count: str, cpus: int) -> str:
    if not count:
        return f"every CPU ({cpus})"
    return f"-j {count}" + (" (every CPU)" if count == str(cpus) else "")


def all_cpus(scaling: Scaling, cpus: int) -> str:
    return str(cpus) if str(cpus) in scaling.counts else ""


def scaling_markdown(scaling: Optional[Scaling], cpus: int, program_runs: int) -> str:
    if scaling is None:
        return ""
    counts = scaling.counts
    heads = [count_heading(c, cpus) for c in counts]
    every = all_cpus(scaling, cpus)

    def speed(seconds: Optional[float]) -> str:
        return "failed" if seconds is None or seconds == math.inf else fmt_speed(scaling.raw_bytes / MB / seconds)

    lines = []
    for task, factor in SCALING_TARGETS:
        times = scaling.seconds.get(task, {})
        one, many = times.get("1", math.inf), times.get(every, math.inf)
        if math.inf in (one, many):
            lines.append(f"- {task}: not measured (a program is missing or failed)")
            continue
        gain = one / many
        verdict = "met" if gain >= factor else f"**missed**: {100 * (1 - gain / factor):.0f} % short"
        lines.append(f"- {task}: {count_heading(every, cpus)} runs {gain:.2f}× as fast as -j 1 "
                     f"(target {factor:g}×): {verdict}")
    plain = scaling.seconds.get("quelmux -u", {}).get(every, math.inf)
    if plain != math.inf and scaling.cp_seconds != math.inf:
        slower = plain / scaling.cp_seconds
        verdict = "met" if slower <= 1.1 else f"**missed**: {100 * (slower / 1.1 - 1):.0f} % over"
        lines.append(f"- quelmux -u, {count_heading(every, cpus)}: {slower:.2f}× the time of cp of the same movie "
                     f"({plain:.2f} against {scaling.cp_seconds:.2f} s; target 1.1×): {verdict}")
    rows = [[task] + [speed(scaling.seconds[task].get(c)) for c in counts] for task in scaling.seconds]
    if scaling.cp_seconds != math.inf:
        rows.append(["cp of the movie"] + [speed(scaling.cp_seconds)] + [""] * (len(counts) - 1))
    peaks = [[task] + [f"{scaling.peak_kb[task][c] / 1024:.0f}" if scaling.peak_kb[task].get(c) else "n/a"
                       for c in counts] for task in scaling.peak_kb]
    what = (f"{scaling.frames} frames of {scaling.picture} ({scaling.width} × {scaling.height}), best wall time of "
            f"{runs(program_runs)}")
    return (f"Threads, on {what}:\n\n" + "\n".join(lines) + "\n\n" +
            markdown_table(["Program: MB/s of frames"] + heads, rows) + "\n\n" +
            markdown_table(["Peak resident size, MiB"] + heads, peaks))


def plot_markdown(plot_note: Optional[str], link: str) -> str:
    return f"![Compression ratio against encode speed]({link})" if plot_note is None else f"(No plot: {plot_note}.)"


def report(args, info: dict, pictures: list[Picture], skipped: list[str], results: dict,
           coders: list[Coder], plot_note: Optional[str], threads: str = "") -> str:
    """The full Markdown report."""
    versions = ", ".join(f"{k} {v}" for k, v in {**info.get("versions", {}), **info.get("tools", {})}.items())
    parts = [
        "# Lossless coders compared",
        "Generated by `scripts/compare.sh`; do not edit by hand.",
        summary_markdown(info, pictures, results, coders, "the tables below", plot_markdown(plot_note, "compare.png"),
                         threads),
        method_text(args, coders),
        f"Versions: {versions}.",
        "Pictures: python3-skimage's PNG files (greyscale ones as R = G = B; alpha composited on black), "
        "generated screen-like and noise frames, and a 1920 × 1080 mosaic of the colour photographs."
        + (f" Left out as too small: {', '.join(skipped)}." if skipped else ""),
        "## Compression ratio",
        picture_table(pictures, results, coders, "ratio"),
        "## Encode speed, MB/s",
        picture_table(pictures, results, coders, "encode"),
        "## Decode speed, MB/s",
        picture_table(pictures, results, coders, "decode"),
    ]
    notes = sorted({f"{c.label}: {results[p.name][c.id].note}" for p in pictures for c in coders
                    if results[p.name][c.id].note})
    if notes:
        parts += ["## Notes", "\n".join(f"- {n}" for n in notes)]
    return "\n\n".join(parts) + "\n"


README_BEGIN = "<!-- compare.sh: begin -->"
README_END = "<!-- compare.sh: end -->"


def update_readme(readme: Path, summary: str) -> bool:
    text = readme.read_text()
    begin, end = text.find(README_BEGIN), text.find(README_END)
    if begin < 0 or end < begin:
        return False
    readme.write_text(text[:begin + len(README_BEGIN)] + "\n\n" + summary + "\n\n" + text[end:])
    return True


def results_json(info, pictures, results, coders, scaling: Optional["Scaling"]) -> dict:
    return {
        "threads": dataclasses.asdict(scaling) if scaling else None,
        "machine": info,
        "coders": [{"id": c.id, "label": c.label, "what": CODER_NOTES[c.id]} for c in coders],
        "pictures": [{"name": p.name, "group": p.group, "width": p.width, "height": p.height,
                      "results": {c.id: dataclasses.asdict(results[p.name][c.id]) for c in coders}}
                     for p in pictures],
    }


# ---------------------------------------------------------------------------
# Finding and building the programs


OWN_PROGRAMS = ("compare_coders", "quelmux", "mkmovie", "crvtdec")
OTHER_PROGRAMS = ("cwebp", "dwebp", "cjxl", "djxl", "zstd", "gnuplot", "time")


def codemodel_targets(build_dir: Path) -> dict[str, Path]:
    """Executables of the build by target name, from CMake's file API."""
    reply = build_dir / ".cmake" / "api" / "v1" / "reply"
    indexes = sorted(reply.glob("index-*.json"))
    if not indexes:
        return {}
    index = json.loads(indexes[-1].read_text())
    codemodel = next((r for r in index.get("objects", []) if r.get("kind") == "codemodel"), None)
    if codemodel is None:
        return {}
    model = json.loads((reply / codemodel["jsonFile"]).read_text())
    targets = {}
    for configuration in model.get("configurations", [])[:1]:
        for t in configuration.get("targets", []):
            detail = json.loads((reply / t["jsonFile"]).read_text())
            if detail.get("type") == "EXECUTABLE" and detail.get("artifacts"):
                targets[t["name"]] = build_dir / detail["artifacts"][0]["path"]
    return targets


def find_in_build(build_dir: Path, name: str) -> Optional[Path]:
    for path in sorted(build_dir.rglob(name)):
        if path.is_file() and os.access(path, os.X_OK) and "CMakeFiles" not in path.parts:
            return path
    return None


def build(build_dir: Path) -> None:
    """Configures a Release tree (asking CMake's file API for the targets) and
    builds the programs the comparison runs, crvtdec among them when the
    project has it."""
    query = build_dir / ".cmake" / "api" / "v1" / "query" / "codemodel-v2"
    query.parent.mkdir(parents=True, exist_ok=True)
    query.touch()
    configure = ["cmake", "-S", str(REPO), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                 "-DQUELMUX_BUILD_BENCH=ON"]
    if not (build_dir / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(configure, check=True)
    wanted = [t for t in OWN_PROGRAMS if t in codemodel_targets(build_dir)]
    subprocess.run(["cmake", "--build", str(build_dir), "-j2", "--target", *wanted], check=True)


def locate_tools(build_dir: Path, overrides: dict[str, str]) -> dict[str, Optional[str]]:
    targets = codemodel_targets(build_dir)
    tools: dict[str, Optional[str]] = {}
    for name in OWN_PROGRAMS:
        path = targets.get(name)
        if path is None or not path.exists():
            path = find_in_build(build_dir, name)
        tools[name] = str(path) if path else None
    for name in OTHER_PROGRAMS:
        tools[name] = shutil.which(name)
    for name, path in overrides.items():
        tools[name] = path if path and os.access(path, os.X_OK) else None
    return tools


# ---------------------------------------------------------------------------


def log(message: str) -> None:
    print(message, file=sys.stderr, flush=True)


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", action="store_true", help="configure and build the Release tree first")
    p.add_argument("--build-dir", type=Path, default=REPO / "build" / "release")
    p.add_argument("--out", type=Path, default=REPO / "bench" / "results",
                   help="where compare.md, compare.png and compare.json go")
    p.add_argument("--readme", type=Path, default=REPO / "README.md",
                   help="README whose Performance table is replaced")
    p.add_argument("--no-readme", dest="readme", action="store_const", const=None,
                   help="leave the README alone")
    p.add_argument("--data-dir", type=Path, default=SKIMAGE_DATA, help="folder of the PNG pictures")
    p.add_argument("--only", default="", help="comma-separated picture names to keep")
    p.add_argument("--runs", type=int, default=5, help="runs of every coder, the best counting")
    p.add_argument("--min-time", type=float, default=0.2, help="seconds each library coder runs at least")
    p.add_argument("--program-runs", type=int, default=3, help="runs of quelmux and crvtdec")
    p.add_argument("--frames", type=int, default=100, help="frames of the movies for the whole programs")
    p.add_argument("--tool", action="append", default=[], metavar="NAME=PATH",
                   help="use PATH for program NAME (an empty or missing PATH: as if not installed)")
    p.add_argument("--quick", action="store_true",
                   help="two tiny generated pictures, one run each, three frames: checks the script, not speed")
    p.add_argument("--work-dir", type=Path, default=None, help="scratch folder (default: a temporary one)")
    args = p.parse_args(argv)
    if args.quick:
        args.runs, args.program_runs, args.frames, args.min_time = 1, 1, 3, 0.0
    return args


def main(argv=None) -> int:
    args = parse_args(argv)
    if args.build:
        build(args.build_dir)
    overrides = {}
    for item in args.tool:
        name, sep, path = item.partition("=")
        if not sep:
            raise SystemExit(f"--tool wants NAME=PATH, not {item}")
        overrides[name] = path
    tools = locate_tools(args.build_dir, overrides)
    for name in ("compare_coders",):
        if not tools.get(name):
            raise SystemExit(f"{name} not found in {args.build_dir}: build with -DQUELMUX_BUILD_BENCH=ON "
                             f"(scripts/compare.sh does)")
    for name in OWN_PROGRAMS[1:] + OTHER_PROGRAMS:
        if not tools.get(name):
            log(f"{name} not found: its columns read n/a")

    if args.quick:
        pictures, skipped = generated_corpus(QUICK), []
    else:
        pictures, skipped = skimage_corpus(args.data_dir)
        pictures += generated_corpus(GENERATED)
    if args.only:
        keep = set(args.only.split(","))
        pictures = [p for p in pictures if p.name in keep]
    pictures = corpus_order(pictures)
    if not pictures:
        raise SystemExit("no pictures to compare")

    coders = list(CODERS)
    args.out.mkdir(parents=True, exist_ok=True)
    info = machine_description(tools["compare_coders"])
    info["tools"] = tool_versions(tools)
    info["load"] = {"start": " ".join(f"{x:.2f}" for x in os.getloadavg())}
    cpus = len(os.sched_getaffinity(0))  # what quelmux and crvtdec take by default

    results: dict[str, dict[str, Result]] = {}
    with tempfile.TemporaryDirectory(prefix="quelmux-compare-", dir=args.work_dir) as work:
        comparison = Comparison(tools, Path(work), args.runs, args.program_runs, args.frames, args.min_time)
        for n, picture in enumerate(pictures, 1):
            results[picture.name] = comparison.measure(picture, coders)
            log(f"[{n}/{len(pictures)}] {picture.name} {picture.width}x{picture.height}: " +
                "  ".join(f"{c.id} {brief(results[picture.name][c.id])}" for c in coders))
        scaling = None
        if tools.get("quelmux") and tools.get("mkmovie"):
            # The 1080p mosaic, or the largest picture when it is left out.
            chosen = max(pictures, key=lambda p: (p.name == "mosaic-1080p", p.width * p.height))
            log(f"threads: {chosen.name}")
            scaling = comparison.measure_threads(chosen, thread_counts(cpus))
    info["load"]["end"] = " ".join(f"{x:.2f}" for x in os.getloadavg())

    report_path, plot_path = args.out / "compare.md", args.out / "compare.png"
    # The photographs, where the targets are; all pictures when there are none.
    plotted = [p for p in pictures if p.group in PHOTOGRAPHS]
    title = f"Photographs ({len(plotted)})"
    if not plotted:
        plotted, title = pictures, f"All pictures ({len(pictures)})"
    plot_note = write_plot(plot_points(plotted, results, coders), plot_path, tools.get("gnuplot"),
                           f"{title}: compression ratio against encode speed")
    threads = scaling_markdown(scaling, cpus, args.program_runs)
    report_path.write_text(report(args, info, pictures, skipped, results, coders, plot_note, threads))
    (args.out / "compare.json").write_text(
        json.dumps(results_json(info, pictures, results, coders, scaling), indent=1) + "\n")
    log(f"wrote {report_path}, compare.json" + ("" if plot_note else ", compare.png"))
    if args.readme and not args.quick:
        here = args.readme.parent
        tables = f"[{os.path.relpath(report_path, here)}]({os.path.relpath(report_path, here)})"
        plot = plot_markdown(plot_note, os.path.relpath(plot_path, here))
        if update_readme(args.readme, summary_markdown(info, pictures, results, coders, tables, plot, threads)):
            log(f"updated the table in {args.readme}")
        else:
            log(f"{args.readme} has no {README_BEGIN} ... {README_END} section: not updated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
