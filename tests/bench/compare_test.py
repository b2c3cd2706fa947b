#!/usr/bin/env python3
"""Tests of the coder comparison (bench/compare/compare.py): its tables and
targets on fixed figures, and whole --quick runs on two tiny pictures with the
real tools and with broken, lossy and missing ones. Nothing here depends on
how fast anything runs.

Environment (set by CTest): QUELMUX_COMPARE_CODERS, QUELMUX_EXE,
QUELMUX_MKMOVIE (the built programs), QUELMUX_BUILD_DIR (where crvtdec is
looked for); QUELMUX_REQUIRE_TOOLS=1 makes a missing external tool a failure.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "bench" / "compare"))
import compare  # noqa: E402
from compare import Picture, Result  # noqa: E402

EXTERNAL = ("cwebp", "dwebp", "cjxl", "djxl", "zstd", "gnuplot")


def coders(*ids):
    return [c for c in compare.CODERS if c.id in ids]


def ok(raw, coded, enc, dec):
    return Result("ok", raw, coded, enc, dec)


class TableTest(unittest.TestCase):
    """Totals, medians, failures and targets on figures chosen here."""

    def setUp(self):
        # Two colour photographs and a noise frame of 100, 300 and 200 bytes.
        self.pictures = [Picture("a", compare.PHOTOS_COLOUR),
                         Picture("b", compare.PHOTOS_COLOUR), Picture("n", compare.NOISE)]
        self.results = {
            "a": {"crvt": ok(100, 50, 1e-6, 2e-6), "webp-z0": ok(100, 40, 4e-6, 4e-6),
                  "charls-line": ok(100, 60, 20e-6, 10e-6), "charls-none": ok(100, 60, 25e-6, 10e-6)},
            "b": {"crvt": ok(300, 100, 1e-6, 1e-6), "webp-z0": Result("lossy"),
                  "charls-line": ok(300, 100, 10e-6, 5e-6), "charls-none": ok(300, 100, 15e-6, 5e-6)},
            "n": {"crvt": ok(200, 201, 1e-6, 1e-6), "webp-z0": Result("n/a"),
                  "charls-line": ok(200, 220, 10e-6, 10e-6), "charls-none": ok(200, 220, 10e-6, 10e-6)},
        }

    def rows(self, table):
        return {line.split(" | ")[0].strip("| *"): [c.strip(" |") for c in line.split(" | ")[2:]]
                for line in table.splitlines()[2:]}

    def test_totals_are_sums_and_medians_are_per_picture(self):
        rows = self.rows(compare.picture_table(self.pictures, self.results, coders("crvt", "webp-z0"), "ratio"))
        self.assertEqual(rows["a"], ["2.00", "2.50"])
        self.assertEqual(rows["photographs total"], ["2.67", "lossy"])  # 400 / 150
        self.assertEqual(rows["photographs median"], ["2.50", "lossy"])  # of 2 and 3
        self.assertEqual(rows["noise total"], ["1.00", "n/a"])
        self.assertEqual(rows["all total"], ["1.71", "lossy/n/a"])  # 600 / 351

        rows = self.rows(compare.picture_table(self.pictures, self.results, coders("crvt"), "encode"))
        self.assertEqual(rows["b"], ["300"])  # MB/s: 300 bytes in a microsecond
        self.assertEqual(rows["all total"], ["200"])  # 600 bytes in 3 microseconds
        self.assertEqual(rows["all median"], ["200"])

    def test_a_missing_decoder_leaves_the_encoder_standing(self):
        results = {"a": {"quelmux": Result("ok", 100, 50, 1e-6, 0, decode_status="n/a")}}
        table = compare.picture_table(self.pictures[:1], results, coders("quelmux"), "encode")
        self.assertEqual(self.rows(table)["a"], ["100"])
        table = compare.picture_table(self.pictures[:1], results, coders("quelmux"), "decode")
        self.assertEqual(self.rows(table)["a"], ["n/a"])
        self.assertEqual(self.rows(table)["all total"], ["n/a"])

    def test_summary_has_a_row_per_coder(self):
        lines = compare.summary_table(self.pictures, self.results, coders("crvt", "webp-z0"), "ratio").splitlines()
        self.assertEqual(lines[0], "| Coder: compression ratio | Photographs | colour | greyscale | Figures "
                                   "| Screen-like | Noise | All |")
        self.assertEqual(lines[2], "| **Corvath** | 2.67 | 2.67 | – | – | – | 1.00 | 1.71 |")
        self.assertEqual(lines[3], "| WebP z0 | lossy | lossy | – | – | – | n/a | lossy/n/a |")
        lines = compare.summary_table(self.pictures, self.results, coders("crvt"), "speed").splitlines()
        self.assertEqual(lines[0], "| Coder: MB/s | Photographs encode | Photographs decode | colour photographs "
                                   "encode | colour photographs decode | All encode | All decode |")
        self.assertEqual(lines[2], "| **Corvath** | 200 | 133 | 200 | 133 | 200 | 150 |")

    def test_targets_take_the_faster_peer(self):
        lines = compare.target_lines(self.pictures, self.results,
                                     coders("crvt", "webp-z0", "charls-line", "charls-none"))
        # Photographs: Corvath 400 bytes in 2 us; CharLS line in 30 us (the
        # faster mode), none in 40 us.
        self.assertEqual(lines[0], "- Encoder against CharLS (all photographs): 200 against 13.3 MB/s, "
                                   "15.0× (target 10×): met")
        self.assertIn("Encoder against cwebp -lossless -z 0 (all photographs): not measured", lines[1])
        self.assertEqual(lines[2], "- Decoder against CharLS (all photographs): 133 against 26.7 MB/s, "
                                   "5.0× (target 3×): met")
        self.results["b"]["crvt"] = ok(300, 100, 19e-6, 1e-6)
        lines = compare.target_lines(self.pictures, self.results, coders("crvt", "charls-line"))
        self.assertEqual(lines[0], "- Encoder against CharLS (all photographs): 20.0 against 13.3 MB/s, "
                                   "1.5× (target 10×): **missed**: 85 % short; 133 MB/s would meet it")

    def test_readme_section_is_replaced_between_its_markers(self):
        with tempfile.TemporaryDirectory() as d:
            readme = Path(d) / "README.md"
            readme.write_text(f"# x\n\n## Performance\n\nkept\n{compare.README_BEGIN}\nold\n"
                              f"{compare.README_END}\n\nalso kept\n")
            self.assertTrue(compare.update_readme(readme, "new table"))
            self.assertEqual(readme.read_text(), f"# x\n\n## Performance\n\nkept\n{compare.README_BEGIN}\n\n"
                                                 f"new table\n\n{compare.README_END}\n\nalso kept\n")
            readme.write_text("no markers\n")
            self.assertFalse(compare.update_readme(readme, "new table"))
            self.assertEqual(readme.read_text(), "no markers\n")

    def test_ppm_header_with_comments(self):
        with tempfile.TemporaryDirectory() as d:
            path = Path(d) / "x.ppm"
            path.write_bytes(b"P6\n# made here\n2 1\n255\n\x01\x02\x03\x0a\x0b\x0c")
            self.assertEqual(compare.read_ppm(path), (2, 1, b"\x01\x02\x03\x0a\x0b\x0c"))
            path.write_bytes(b"P6\n2 1\n65535\n" + bytes(12))
            with self.assertRaises(ValueError):
                compare.read_ppm(path)


def script(directory: Path, name: str, body: str) -> str:
    path = directory / name
    path.write_text("#!/bin/sh\n" + textwrap.dedent(body))
    path.chmod(0o755)
    return str(path)


class QuickRunTest(unittest.TestCase):
    """The whole script on two tiny pictures."""

    @classmethod
    def setUpClass(cls):
        cls.programs = {"compare_coders": os.environ.get("QUELMUX_COMPARE_CODERS"),
                        "quelmux": os.environ.get("QUELMUX_EXE"), "mkmovie": os.environ.get("QUELMUX_MKMOVIE")}
        missing = [name for name, path in cls.programs.items() if not path]
        if missing:
            raise unittest.SkipTest("set by CTest: the paths of " + ", ".join(missing))
        cls.build_dir = Path(os.environ.get("QUELMUX_BUILD_DIR", REPO / "build" / "release"))
        cls.require = os.environ.get("QUELMUX_REQUIRE_TOOLS") == "1"
        cls.installed = {name for name in EXTERNAL if shutil.which(name)}

    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="compare-test-"))
        self.addCleanup(shutil.rmtree, self.dir)

    def run_script(self, *extra):
        args = [sys.executable, str(REPO / "bench" / "compare" / "compare.py"), "--quick", "--no-readme",
                "--build-dir", str(self.build_dir), "--out", str(self.dir / "out"), "--work-dir", str(self.dir)]
        args += [f"--tool={name}={path}" for name, path in self.programs.items()]
        done = subprocess.run(args + list(extra), capture_output=True, text=True, timeout=600)
        self.assertEqual(done.returncode, 0, done.stderr)
        report = (self.dir / "out" / "compare.md").read_text()
        figures = json.loads((self.dir / "out" / "compare.json").read_text())
        return report, {p["name"]: p["results"] for p in figures["pictures"]}

    def expect_installed(self, *names):
        missing = [n for n in names if n not in self.installed]
        if missing and self.require:
            self.fail(f"{', '.join(missing)} required (QUELMUX_REQUIRE_TOOLS=1) but not installed")
        return not missing

    def test_every_coder_gives_the_pixels_back(self):
        crvtdec = compare.locate_tools(self.build_dir, {}).get("crvtdec")
        if crvtdec is None:
            # Until crvtdec is built, one that agrees stands in for it.
            crvtdec = script(self.dir, "crvtdec", 'echo "3 frames identical"\n')
        report, results = self.run_script(f"--tool=crvtdec={crvtdec}")
        needs = {"webp-z0": ("cwebp", "dwebp"), "webp-z6": ("cwebp", "dwebp"), "jxl-e1": ("cjxl", "djxl"),
                 "jxl-e3": ("cjxl", "djxl"), "zstd-3": ("zstd",)}
        self.assertEqual(set(results), {"tiny-screen", "tiny-noise"})
        for picture, by_coder in results.items():
            self.assertEqual(list(by_coder), [c.id for c in compare.CODERS])
            for coder, r in by_coder.items():
                expected = "ok" if self.expect_installed(*needs.get(coder, ())) else "n/a"
                self.assertEqual((r["status"], r["decode_status"]), (expected, expected),
                                 f"{coder} on {picture}: {r['note']}")
                if expected == "ok":
                    self.assertGreater(r["coded_bytes"], 0)
                    self.assertGreater(r["encode_seconds"], 0)
                    self.assertGreater(r["decode_seconds"], 0)
            # The programs coded three frames of 48 x 32 or 37 x 23 pixels.
            self.assertIn(by_coder["quelmux"]["raw_bytes"], (3 * 48 * 32 * 3, 3 * 37 * 23 * 3))
        for c in compare.CODERS:
            self.assertIn(f" {c.label} |", report.splitlines()[report.splitlines().index("## Compression ratio") + 2])
        self.assertIn("| tiny-noise | 37×23 |", report)
        self.assertIn("| *screen-like total* |", report)
        self.assertIn("| **all median** |", report)
        self.assertIn("| crvtdec --frames --png |", report.split("Threads, on 3 frames of tiny-screen")[1])
        if self.expect_installed("gnuplot"):
            self.assertEqual((self.dir / "out" / "compare.png").read_bytes()[:8], b"\x89PNG\r\n\x1a\n")
            self.assertIn("![Compression ratio against encode speed](compare.png)", report)

    def test_missing_broken_and_lossy_tools_are_marked_and_left_out(self):
        lossy = self.dir / "lossy"
        lossy.mkdir()
        encoder = script(lossy, "cjxl", 'cp "$1" "$2"\n')
        # A decoder that gets the last byte wrong.
        decoder = script(lossy, "djxl", """
            size=$(wc -c < "$1")
            head -c $((size - 1)) "$1" > "$2"
            printf x >> "$2"
        """)
        broken = script(lossy, "zstd", "echo broken >&2; exit 3\n")
        crvtdec = script(lossy, "crvtdec", 'echo "frame 2 differs at row 0, column 5"; exit 1\n')
        tools = ["--tool=cwebp=", f"--tool=cjxl={encoder}", f"--tool=djxl={decoder}", f"--tool=zstd={broken}",
                 f"--tool=crvtdec={crvtdec}"]
        report, results = self.run_script("--only=tiny-noise", *tools)
        r = results["tiny-noise"]
        self.assertEqual(r["webp-z0"]["status"], "n/a")
        self.assertIn("cwebp", r["webp-z6"]["note"])
        self.assertEqual(r["jxl-e1"]["status"], "lossy")
        self.assertEqual(r["zstd-3"]["status"], "failed")
        self.assertIn("broken", r["zstd-3"]["note"])
        self.assertEqual((r["quelmux"]["status"], r["quelmux"]["decode_status"]), ("ok", "lossy"))
        self.assertEqual(r["crvt"]["status"], "ok")
        decode = report.split("## Decode speed, MB/s")[1]
        row = next(line for line in decode.splitlines() if line.startswith("| tiny-noise |"))
        cells = [c.strip() for c in row.strip("|").split("|")][2:]
        by_label = dict(zip([c.label for c in compare.CODERS], cells))
        self.assertEqual((by_label["quelmux / crvtdec"], by_label["WebP z0"], by_label["JPEG XL e1"],
                          by_label["zstd -3"]), ("lossy", "n/a", "lossy", "failed"))
        total = next(line for line in decode.splitlines() if line.startswith("| **all total** |"))
        self.assertNotIn("lossy", total.split("|")[3])  # Corvath's own total stands


if __name__ == "__main__":
    unittest.main(verbosity=2)
