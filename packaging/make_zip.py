"""make_zip.py ZIP FILE...: the files, flat, in a Vellum folder of the zip,
with fixed times so that the same files give the same archive. FILE=NAME
puts a file at NAME (with its folders) inside the Vellum folder instead."""
import os
import sys
import zipfile

target, files = sys.argv[1], sys.argv[2:]
with zipfile.ZipFile(target + ".part", "w", zipfile.ZIP_DEFLATED) as archive:
    for entry in files:
        path, _, name = entry.partition("=")
        info = zipfile.ZipInfo("Vellum/" + (name or os.path.basename(path)), date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(path, "rb") as data:
            archive.writestr(info, data.read())
os.replace(target + ".part", target)
