#!/usr/bin/env python3
"""Writes the hand-made inputs of the call_order and tomo_config fuzz targets:
seeds to fuzz/corpus/<target>/, inputs that found a fault to
fuzz/regressions/<target>/. Run from the repository root:

    python3 fuzz/make_seeds.py

call_order: each step is three bytes, the operation (the export's place in
tavirex.h, or one of the module and host operations after them) and two
argument bytes, read as fuzz_call_order.cpp reads them. tomo_config: the
header, configuration text and table patterns of fuzz_tomo_config.cpp.
"""
import os
import struct

OPS = [
    "Init", "SetCommInit", "SetCommInit2", "SetSensMduInit_Pano", "SetSensMduInit_Ceph", "SetParamforPictEx",
    "SetParamforPictEx_Ceph", "SetWaitXExpose", "CheckPictStatus", "GetImageDataEx", "ResetAll", "SetDeviceFree",
    "Ether232Send", "Ether232Recv", "GetInfoData", "ImageProcessingEx", "ImageProcessingEx2",
    "ImageProcessingExDummy", "SaveBitmap", "SaveBitmap2", "SaveBitmapWindow", "SaveBitmap3", "SetWindowPos",
    "SetWindowPosAuto", "GetWindowCenter", "GetWindowWidth", "RawDatafile", "RawFileHorizontalMirror",
    "BitmapChange", "MarkingInBitmap", "MarkingInBitmap_Tomo", "Init_Tomo", "SetSensMdulInit_Tomo",
    "SetParamforPictEx_Tomo", "ResetAll_Tomo", "SetWaitXExpose_Tomo", "SetTIMERandMODREG_Tomo",
    "CheckPictStatus_Tomo", "GetEXTIMEandECTIME_Tomo", "GetImageDataEx_Tomo", "PictStartbyCommand_Tomo",
    "SetDeviceFree_Tomo", "ImageProcessingEx_Tomo",
    # the module and the host's repetitions
    "fail_call", "short_read", "dead", "stuck", "module", "poll", "tomo_picture", "tomo_frame",
]
assert len(OPS) == 51
OP = {name: i for i, name in enumerate(OPS)}

# Argument values, as the target's choices number them.
PANO, CEPH, TOMO, MISSING, EMPTY, FOLDER, NULL, LONG = range(8)  # configurations
OUT_RAW, OTHER_RAW, OUT_FOLDER, OUT_MISSING_FOLDER, OUT_NULL, OUT_EMPTY, OUT_SMALL, OUT_LONG = range(8)
IN_OUT_RAW, IN_SMALL_RAW = 0, 1  # raw inputs
REPORTED, SMALL = 0, 1  # size pairs: the last processing's, small.raw's
FILTER = 0x80
# picture kinds by argument: 1, 2, 3, 4, 0, 5, 2^32-1
KIND = {1: 0, 2: 1, 3: 2, 4: 3, 0: 4, 5: 5}


def step(name, a=0, b=0):
    return bytes([OP[name], a, b])


def file_arg(raw_input, size_pair, filter_on=False):
    return raw_input | size_pair << 3 | (FILTER if filter_on else 0)


def boot(config):
    return step("Init", config, 1) + step("SetCommInit")


def pano_cycle(ceph=False):
    config = CEPH if ceph else PANO
    s = boot(config)
    if ceph:
        # lateral view, FPGA loaded; one pass of speed_ceph.txt, 10 ms apart, 100 ms time lag
        s += step("SetSensMduInit_Ceph", config, 1) + step("SetParamforPictEx_Ceph", 1, 0)
    else:
        # FPGA loaded; two passes of speed_pano.txt
        s += step("SetSensMduInit_Pano", config, 0) + step("SetParamforPictEx", 0, 1)
    s += step("SetWaitXExpose") + step("poll")
    s += step("GetImageDataEx", 0, 0 if ceph else 1)  # segments 1 or 2
    s += step("ResetAll") + step("SetDeviceFree")
    s += step("ImageProcessingEx", 0, OUT_RAW)
    return s + finishing("MarkingInBitmap")


def finishing(marker):
    # the window from the processed image, a filtered bitmap through it, the marker
    return (step("SetWindowPosAuto", file_arg(IN_OUT_RAW, REPORTED)) +
            step("SaveBitmapWindow", file_arg(IN_OUT_RAW, REPORTED, True), 0) + step(marker, 0, 0))


def tomo_capture(frames):
    s = boot(TOMO) + step("Init_Tomo", TOMO, 1) + step("SetSensMdulInit_Tomo") + step("SetParamforPictEx_Tomo")
    s += step("SetWaitXExpose_Tomo")
    s += step("tomo_frame") * frames
    return s + step("GetImageDataEx_Tomo") + step("ResetAll_Tomo") + step("SetDeviceFree_Tomo")


def tomo_cycle(frames, reverse=False):
    s = tomo_capture(frames) + step("ImageProcessingEx_Tomo", 0, OUT_RAW | (0x20 if reverse else 0))
    return s + finishing("MarkingInBitmap_Tomo")


def file_exports():
    s = b""
    for name in ["SaveBitmap", "SaveBitmap2", "SaveBitmapWindow", "SaveBitmap3"]:
        s += step(name, file_arg(IN_SMALL_RAW, SMALL, True), 1) + step(name, file_arg(IN_SMALL_RAW, SMALL), 0)
    s += step("RawDatafile", file_arg(IN_SMALL_RAW, SMALL, True), OUT_RAW)
    s += step("RawFileHorizontalMirror", file_arg(IN_OUT_RAW, SMALL), OUT_RAW)
    s += step("ImageProcessingExDummy", file_arg(IN_SMALL_RAW, SMALL), OTHER_RAW)
    s += step("SetWindowPos", 0, 0) + step("GetWindowCenter") + step("GetWindowWidth")
    s += step("BitmapChange", 1, 1) + step("MarkingInBitmap", 1, 0) + step("MarkingInBitmap_Tomo", 1, 1)
    s += step("Ether232Send") + step("Ether232Recv") + step("GetInfoData")
    return s


SEEDS = {
    "pano_cycle": pano_cycle(),
    "ceph_cycle": pano_cycle(ceph=True),
    "tomo_cycle_1_frame": tomo_cycle(1),
    "tomo_cycle_3_frames": tomo_cycle(3, reverse=True),
    "file_exports": file_exports(),
    # a readout failing one byte short, then a dead module during the tomographic pictures
    "pano_short_read": boot(PANO) + step("SetSensMduInit_Pano", PANO, 0) + step("SetParamforPictEx", 0, 1) +
                       step("SetWaitXExpose") + step("poll") + step("short_read", 0, 200) +
                       step("GetImageDataEx", 0, 1) + step("ImageProcessingEx", 0, OUT_RAW),
    "tomo_dead": boot(TOMO) + step("Init_Tomo", TOMO, 1) + step("SetSensMdulInit_Tomo") +
                 step("SetParamforPictEx_Tomo") + step("SetWaitXExpose_Tomo") + step("dead", 30) +
                 step("tomo_frame") + step("GetImageDataEx_Tomo") + step("ImageProcessingEx_Tomo", 0, OUT_RAW),
}

REGRESSIONS = {
    # A frame closed with 103 (counted all the same), read out while the strip count was that of the
    # last processing result (1), then processed after Tavirex_Init_Tomo had set 8 strips again:
    # the pipeline read 18 blocks from a buffer of 4.
    "tomo_frame_refused_then_processed": boot(TOMO) + step("Init_Tomo", TOMO, 1) + step("SetSensMdulInit_Tomo") +
                                         step("ImageProcessingEx_Tomo", 0, OUT_RAW) +
                                         step("SetTIMERandMODREG_Tomo", 0, KIND[4]) + step("GetImageDataEx_Tomo") +
                                         step("Init_Tomo", TOMO, 1) + step("ImageProcessingEx_Tomo", 0, OUT_RAW),
}


# ---- tomo_config

TOMO_TEXT = """[LOADPROG]
FLG_FPGA=1
[WAITTIME]
EXPOS2DC=0
DC2EXPOS=0
[PICTCNTL]
LANRETRY=5
INITVALUE=34
PICTMODE_XRAY=1
PICTMODE_DC=5
TIMERSET_XRAY=100
TIMERSET_DC=450
LIMITDIFFECTIME=0
[BINNING]
PIXEL=2
[PROCESS]
DELDC=1
CORRSENS=1
CORRINJLINE=1
PUTIMAGES=1
FILLIN=1
CORRIMGSIZE=1
DELNOISE1=1
DELNOISE2=1
CORRBRISCALE=1
[FILLIN]
CCDGAP0=2
CCDGAP1=3
TOPCUT0=0
TOPCUT1=1
TOPCUT2=1
BOTTOMCUT0=1
BOTTOMCUT1=1
BOTTOMCUT2=0
[PUTIMAGES]
OVERLAY=4
AVERAGE=50
""" + "".join("LEFTCUT%d=4\nRIGHTCUT%d=4\n" % (i, i) for i in range(8)) + """[CORRIMGSIZE]
TOPOFFSET=%d
BOTTOMOFFSET=%d
LEFTOFFSET=0
RIGHTOFFSET=0
[CORRBRISCALE]
SELECT_FLG_1st=3
[FULLSCALE]
XMANYSIDE_PERCENTAGE=1
XFEWSIDE_PERCENTAGE=1
[GAMMA]
TARGET=128
PERCENTAGE=500
[ExOption]
PictLineNum=2
PictLineColor=%d
"""

FRAMES = {1: 0, 2: 3, 3: 4, 0: 5, 4: 6}  # frame count -> bits 0-2 of byte 0
REVERSE, FLAT, NO_NOISE_ROWS = 8, 16, 32
EXACT, SHORT_BYTE, LONG_BYTE, SHORT_VALUE, LONG_VALUE, HEADER_ONLY, NO_FILE, AS_GIVEN = range(8)


def fraction(part, whole):
    """The byte d for which whole * d // 255 == part."""
    return next(d for d in range(256) if whole * d // 255 == part)


def tomo_input(frames, flags=0, text=None, gain=b"S1a" + struct.pack("<f", 1.0), offset=b"S1b" + struct.pack("<f", 0.0),
               noise_rows=struct.pack("<3H", 1, 413, 1), gain_length=EXACT, offset_length=EXACT, top=0, bottom=0, color=0):
    text = (TOMO_TEXT % (top, bottom, color) if text is None else text).encode()
    rest = len(gain) + len(offset) + len(noise_rows)
    header = bytes([FRAMES[frames] | flags, gain_length, offset_length, len(text) & 0xFF, len(text) >> 8,
                    fraction(len(gain), rest), fraction(len(offset), rest - len(gain))])
    return header + text + gain + offset + noise_rows


TOMO_SEEDS = {
    "one_frame": tomo_input(1),
    "three_frames_reversed_white_bands": tomo_input(3, REVERSE | FLAT, color=1),
    "two_frames_no_steps": tomo_input(2, NO_NOISE_ROWS, text="[PROCESS]\nDELDC=0\nCORRSENS=0\nCORRINJLINE=0\nPUTIMAGES=0\nFILLIN=0\n"
                                      "CORRIMGSIZE=0\nDELNOISE1=0\nDELNOISE2=0\nCORRBRISCALE=0\n"),
    "no_frame": tomo_input(0),
    "four_frames": tomo_input(4),
    "gain_table_short": tomo_input(1, gain_length=SHORT_BYTE),
    "offset_table_missing": tomo_input(1, offset_length=NO_FILE),
    "empty_config": tomo_input(1, text=""),
}

TOMO_REGRESSIONS = {
    # Three frames cropped to one row: the last frame, scaled by 0.985, kept no row and
    # was left out of the joined image, which was reported as a success.
    "three_frames_cropped_to_one_row": tomo_input(3, top=1151, bottom=1152),
}


def write(folder, inputs):
    os.makedirs(folder, exist_ok=True)
    for name, data in inputs.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("fuzz/corpus/call_order", SEEDS)
    write("fuzz/regressions/call_order", REGRESSIONS)
    write("fuzz/corpus/tomo_config", TOMO_SEEDS)
    write("fuzz/regressions/tomo_config", TOMO_REGRESSIONS)
