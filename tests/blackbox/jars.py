"""Jars, whole and damaged, as an updater might leave them staged."""
import io
import zipfile


def jar(text="version 2", zip64=False, comment=b"", saturated=True):
    """A stored jar of three entries; zip64: in the Zip64 form that a writer
    uses past 65,535 entries, and here uses anyway, with the end record's
    counts saturated as they then are (java -jar follows the Zip64 end
    record only then); not saturated, as Python writes it for few entries."""
    limits = zipfile.ZIP_FILECOUNT_LIMIT, zipfile.ZIP64_LIMIT
    if zip64:
        zipfile.ZIP_FILECOUNT_LIMIT = 1
    try:
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
            z.comment = comment
            # A fixed time: the same bytes in every run.
            for name, data in [("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n\n"),
                               ("demo/version.txt", text), ("demo/App.class", bytes(range(256)) * 4)]:
                z.writestr(zipfile.ZipInfo(name, (2026, 1, 1, 0, 0, 0)), data)
        data = bytearray(out.getvalue())
        if zip64 and saturated:
            end = data.rindex(b"PK\x05\x06")
            data[end + 8:end + 12] = b"\xff\xff\xff\xff"
        return bytes(data)
    finally:
        zipfile.ZIP_FILECOUNT_LIMIT, zipfile.ZIP64_LIMIT = limits


def disk_numbers(data, number):
    """The end record's two disk numbers set to number."""
    end = data.rindex(b"PK\x05\x06")
    return data[:end + 4] + number.to_bytes(2, "little") * 2 + data[end + 8:]


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
    # As Python writes it for few entries: java -jar takes it too.
    "zip64-unsaturated": (jar(zip64=True, saturated=False), True),
    # End record disk numbers that are not the Zip64 locator's: java -jar
    # then looks for the central directory right before the end record.
    "zip64-disk-numbers": (disk_numbers(jar(zip64=True), 0xFFFF), False),
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
