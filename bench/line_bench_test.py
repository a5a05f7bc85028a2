#!/usr/bin/python3
"""Checks what bench/line's figures rest on: the generated installations are stale exactly as
stated, the same on every run, and a run is only counted when every file ended up right."""

import filecmp
import hashlib
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import line_bench  # noqa: E402,F401  (the driver and every module it uses load)
import line_install as install  # noqa: E402


def tree(folder):
    return sorted(os.path.relpath(os.path.join(d, n), folder)
                  for d, _, names in os.walk(folder) for n in names)


# The same shape as the benchmark's, a thousand times smaller.
SHAPE = {"FILES": 50, "STALE": 10, "TOTAL_BYTES": 400_000, "STALE_BYTES": 80_000,
         "KINDS": {"changed": 4, "resized": 3, "missing": 3}, "BIG_BYTES": 300_000}


class Generated(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.saved = {name: getattr(install, name) for name in SHAPE}
        for name, value in SHAPE.items():
            setattr(install, name, value)
        cls.folders = [tempfile.TemporaryDirectory(prefix="talvora-line-gen-") for _ in range(2)]
        cls.by_kind = [install.generate(f.name) for f in cls.folders]

    @classmethod
    def tearDownClass(cls):
        for name, value in cls.saved.items():
            setattr(install, name, value)
        for f in cls.folders:
            f.cleanup()

    def test_stale_installation_differs_in_exactly_the_stated_files_and_bytes(self):
        work = self.folders[0].name
        client = os.path.join(work, "srv", "pack", "client")
        stale = os.path.join(work, "tmpl", "stale")
        names = tree(client)
        self.assertEqual(len(names), install.FILES)
        self.assertEqual(sum(os.path.getsize(os.path.join(client, n)) for n in names),
                         install.TOTAL_BYTES)
        self.assertEqual(tree(os.path.join(work, "tmpl", "uptodate")), names)
        self.assertGreater(len({os.path.dirname(n) for n in names}), 10)  # nested folders
        kinds = {"changed": 0, "resized": 0, "missing": 0}
        stale_bytes = 0
        for name in names:
            new, old = os.path.join(client, name), os.path.join(stale, name)
            if not os.path.exists(old):
                kind = "missing"
            elif filecmp.cmp(new, old, shallow=False):
                continue
            elif os.path.getsize(new) == os.path.getsize(old):
                kind = "changed"
            else:
                kind = "resized"
            kinds[kind] += 1
            stale_bytes += os.path.getsize(new)
        self.assertEqual(kinds, install.KINDS)
        self.assertEqual(stale_bytes, install.STALE_BYTES)
        self.assertEqual(sum(self.by_kind[0].values()), install.STALE_BYTES)
        self.assertEqual(os.path.getsize(os.path.join(work, "srv", "pack", "big", "big.pak")),
                         install.BIG_BYTES)
        # The same stale bytes in one file per kind, in the same states.
        few = os.path.join(work, "srv", "pack", "few")
        self.assertEqual({n: os.path.getsize(os.path.join(few, n)) for n in tree(few)},
                         {k + ".pak": v for k, v in self.by_kind[0].items()})
        self.assertEqual(tree(os.path.join(work, "tmpl", "few-stale")),
                         ["changed.pak", "resized.pak"])

    def test_every_run_generates_the_same_bytes(self):
        first, second = (os.path.join(f.name, "srv") for f in self.folders)
        names = tree(first)
        self.assertEqual(tree(second), names)
        _, mismatch, errors = filecmp.cmpfiles(first, second, names, shallow=False)
        self.assertEqual((mismatch, errors), ([], []))


class UpToDate(unittest.TestCase):
    def test_a_run_counts_only_when_every_file_is_right_and_nothing_is_left(self):
        with tempfile.TemporaryDirectory(prefix="talvora-line-check-") as folder:
            files = {"a/b/one.pak": b"one" * 1000, "two.pak": b"two" * 10}
            for rel, data in files.items():
                install.write(os.path.join(folder, rel), data)
            manifest = os.path.join(folder, "m.txt")
            with open(manifest, "w") as f:
                f.write("VERSION\t1\nBASE\thttp://127.0.0.1:9/pack/\n")
                for rel, data in files.items():
                    f.write("%s\t%d\t%s\n" % (rel, len(data), hashlib.sha256(data).hexdigest()))
            base, entries = install.read_manifest(manifest)
            self.assertEqual(base, "http://127.0.0.1:9/pack/")
            self.assertIsNone(install.up_to_date(folder, entries))

            path = os.path.join(folder, "a", "b", "one.pak")
            install.write(path, b"onf" + files["a/b/one.pak"][3:])  # same size, other bytes
            self.assertIn("a/b/one.pak", install.up_to_date(folder, entries))
            os.remove(path)
            self.assertIn("1 of 2 files", install.up_to_date(folder, entries))
            install.write(path, files["a/b/one.pak"])
            install.write(path + ".part", b"")
            self.assertIn("one.pak.part", install.up_to_date(folder, entries))


if __name__ == "__main__":
    unittest.main()
