#!/usr/bin/env python3
"""Reads the demo's DICOM files back: pixels equal to the processed raw image
(rows top down, raw row 0 being the bottom row), the window the demo printed
mirrored for MONOCHROME1, the modality and the bits stored; the three of the
demo patient, in one study, each a series of its own."""
import re
import sys

import numpy as np
import pydicom

folder, log = sys.argv[1], open(sys.argv[2]).read()
# kind: (raw file, modality, bits stored)
pictures = {"pano": ("pano.raw", "PX", 12), "ceph": ("ceph.raw", "DX", 12),
            "tomo": ("tomo.raw", "PX", 14)}
windows = dict(re.findall(r"DICOM -> \S*?(\w+)\.dcm \(window centre (-?\d+ width \d+)", log))
faults = []
visit = set()
for kind, (raw, modality, bits) in pictures.items():
    ds = pydicom.dcmread(f"{folder}/{kind}.dcm")
    data = np.fromfile(f"{folder}/{raw}", dtype="<u2").reshape(ds.Rows, ds.Columns)[::-1]
    center, width = (int(v) for v in windows[kind].split(" width "))
    found = {"pixels": bool(np.array_equal(ds.pixel_array, data)), "modality": ds.Modality,
             "bits": (ds.BitsStored, ds.HighBit, int(data.max()) < 1 << bits),
             "window": (int(ds.WindowCenter), int(ds.WindowWidth)),
             "photometric": (ds.PhotometricInterpretation, ds.PresentationLUTShape),
             "patient": (ds.PatientID, str(ds.PatientName))}
    visit.add((ds.StudyInstanceUID, ds.SeriesInstanceUID))
    wanted = {"pixels": True, "modality": modality, "bits": (bits, bits - 1, True),
              "window": ((1 << bits) - 1 - center, width), "photometric": ("MONOCHROME1", "INVERSE"),
              "patient": ("TVX-DEMO", "Demo^Phantom")}
    for key in wanted:
        if found[key] != wanted[key]:
            faults.append(f"{kind}.dcm {key}: {found[key]}, expected {wanted[key]}")
    print(f"{kind}.dcm: {ds.Columns} x {ds.Rows}, {ds.Modality}, window {found['window']}, checked")
if len({study for study, _ in visit}) != 1 or len(visit) != len(pictures):
    faults.append(f"one study, a series per picture expected: {sorted(visit)}")
for f in faults:
    print(f, file=sys.stderr)
sys.exit(1 if faults else 0)
