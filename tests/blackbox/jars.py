"""Jars, whole and damaged, as an updater might leave them staged."""
import io
import zipfile


def jar(text="version 2", zip64=False, comment=b""):
    """A stored jar of three entries; zip64: in the Zip64 form, which a
    writer uses past 65,535 entries or 4 GiB and here uses anyway."""
    limits = zipfile.ZIP_FILECOUNT_LIMIT, zipfile.ZIP64_LIMIT
    if zip64:
        zipfile.ZIP_FILECOUNT_LIMIT, zipfile.ZIP64_LIMIT = 1, 1
    try:
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
            z.comment = comment
            # A fixed time: the same bytes in every run.
            for name, data in [("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n\n"),
                               ("demo/version.txt", text), ("demo/App.class", bytes(range(256)) * 4)]:
                z.writestr(zipfile.ZipInfo(name, (2026, 1, 1, 0, 0, 0)), data)
        return out.getvalue()
    finally:
        zipfile.ZIP_FILECOUNT_LIMIT, zipfile.ZIP64_LIMIT = limits


def central_directory_at(data):
    return data.rindex(b"PK\x01\x02")


WHOLE = jar()
# What the stand-in logs as the first line of the jar.
FIRST_LINE = WHOLE.split(b"\n")[0].decode("utf-8", "replace")
# (Windows' text mode ends a file at ^Z, and the log is split into lines.)
assert "\x1a" not in FIRST_LINE and len(FIRST_LINE.splitlines()) == 1
# name: staged bytes, whether they are a whole jar.
STAGED = {
    "whole": (WHOLE, True),
    "zip64": (jar(zip64=True), True),
    "comment": (jar(comment=b"built by the vendor"), True),
    "empty": (b"", False),
    "text": (b"version 2\n", False),
    "cut-in-entry": (WHOLE[:100], False),
    "cut-in-central-directory": (WHOLE[:central_directory_at(WHOLE) + 20], False),
    "cut-in-end-record": (WHOLE[:-8], False),
    "central-directory-past-end": (WHOLE[:-6] + (0x7FFFFFF0).to_bytes(4, "little") + b"\0\0", False),
    # A runnable jar with its start script before it, offsets as they were:
    # Java reads it. Padding after the end record, as bsdtar writing to a
    # pipe leaves: java -jar refuses it.
    "prefixed": (b"#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n" + WHOLE, True),
    "padded": (WHOLE + bytes(7393), False),
}
