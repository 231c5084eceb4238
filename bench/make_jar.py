"""Writes a jar of about SIZE_MIB MiB with ENTRIES entries, sized at random
(a fixed seed: the same file every time), as a large application's jar.
Usage: make_jar.py PATH SIZE_MIB ENTRIES"""
import random
import sys
import zipfile

path, size_mib, entries = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(21)
mean = size_mib * 2**20 // entries
with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
    z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n\n")
    for i in range(entries - 1):
        z.writestr("com/example/pkg%d/Class%d.class" % (i // 100, i), rng.randbytes(rng.randint(100, 2 * mean - 100)))
