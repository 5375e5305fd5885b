"""ctypes declarations of liborvane_api (the reentrant C API, orvane_api.h).

ctypes releases the GIL for the length of every call into the library.
"""
import ctypes
import os

MAX_TEMPLATE_BYTES = 424
MAX_MINUTIAE = 60
MATCH_FULL = 0
MATCH_QUICK = 1


class Minutia(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int32),
        ("y", ctypes.c_int32),
        ("direction", ctypes.c_int32),
        ("kind", ctypes.c_int32),
        ("ring_orientation", ctypes.c_int32 * 3),
    ]


class SearchOptions(ctypes.Structure):
    _fields_ = [
        ("top_k", ctypes.c_size_t),
        ("threshold", ctypes.c_int32),
        ("mode", ctypes.c_int32),
        ("threads", ctypes.c_uint32),
    ]


class Hit(ctypes.Structure):
    _fields_ = [("index", ctypes.c_size_t), ("score", ctypes.c_int32)]


class PrintInfo(ctypes.Structure):
    _fields_ = [
        ("subject", ctypes.c_char_p),
        ("finger", ctypes.c_int32),
        ("impression", ctypes.c_int32),
        ("source_name", ctypes.c_char_p),
    ]


class GalleryHit(ctypes.Structure):
    _fields_ = [
        ("id", ctypes.c_int64),
        ("score", ctypes.c_int32),
        ("finger", ctypes.c_int32),
        ("impression", ctypes.c_int32),
        ("subject", ctypes.c_char * 256),
    ]


def _load():
    explicit = os.environ.get("ORVANE_API_LIBRARY")
    names = [explicit] if explicit else ["liborvane_api.so.0", "liborvane_api.so"]
    errors = []
    for name in names:
        try:
            return ctypes.CDLL(name)
        except OSError as e:
            errors.append(str(e))
    raise ImportError(
        "cannot load the OrvaneCom C API library (install OrvaneCom, or set "
        "ORVANE_API_LIBRARY to the path of liborvane_api.so): " + "; ".join(errors)
    )


lib = _load()

_P = ctypes.c_void_p
_U8P = ctypes.POINTER(ctypes.c_uint8)
_SIZE = ctypes.c_size_t
_SIZEP = ctypes.POINTER(ctypes.c_size_t)
_I32 = ctypes.c_int32
_I32P = ctypes.POINTER(ctypes.c_int32)
_I64P = ctypes.POINTER(ctypes.c_int64)

_SIGNATURES = {
    "orvane_version": (ctypes.c_char_p, []),
    "orvane_result_text": (ctypes.c_char_p, [_I32]),
    "orvane_error_message": (ctypes.c_char_p, []),
    "orvane_workspace_create": (_I32, [ctypes.POINTER(_P)]),
    "orvane_workspace_destroy": (_I32, [_P]),
    "orvane_extract": (_I32, [_P, _U8P, _I32, _I32, _U8P, _SIZE, _SIZEP]),
    "orvane_extract_file": (_I32, [_P, ctypes.c_char_p, _U8P, _SIZE, _SIZEP]),
    "orvane_quality": (_I32, [_P, _U8P, _I32, _I32, _I32P]),
    "orvane_quality_file": (_I32, [_P, ctypes.c_char_p, _I32P]),
    "orvane_template_minutiae": (_I32, [_U8P, _SIZE, ctypes.POINTER(Minutia), _SIZE, _SIZEP]),
    "orvane_match": (_I32, [_U8P, _SIZE, _U8P, _SIZE, _I32, _I32P]),
    "orvane_template_set_create": (_I32, [ctypes.POINTER(_P)]),
    "orvane_template_set_destroy": (_I32, [_P]),
    "orvane_template_set_add": (_I32, [_P, _U8P, _SIZE]),
    "orvane_template_set_size": (_I32, [_P, _SIZEP]),
    "orvane_search_defaults": (SearchOptions, []),
    "orvane_search": (_I32, [_P, _U8P, _SIZE, ctypes.POINTER(SearchOptions), ctypes.POINTER(Hit), _SIZE, _SIZEP]),
    "orvane_gallery_open": (_I32, [ctypes.c_char_p, _I32, ctypes.POINTER(_P)]),
    "orvane_gallery_close": (_I32, [_P]),
    "orvane_gallery_enrol_template": (_I32, [_P, ctypes.POINTER(PrintInfo), _U8P, _SIZE, _I64P]),
    "orvane_gallery_enrol_image": (_I32, [_P, ctypes.POINTER(PrintInfo), _U8P, _I32, _I32, _I64P]),
    "orvane_gallery_enrol_file": (_I32, [_P, ctypes.POINTER(PrintInfo), ctypes.c_char_p, _I64P]),
    "orvane_gallery_remove": (_I32, [_P, ctypes.c_int64, _I32P]),
    "orvane_gallery_count": (_I32, [_P, _SIZEP]),
    "orvane_gallery_identify": (_I32, [_P, _U8P, _SIZE, ctypes.POINTER(SearchOptions), ctypes.POINTER(GalleryHit),
                                       _SIZE, _SIZEP]),
    "orvane_gallery_verify": (_I32, [_P, _U8P, _SIZE, ctypes.c_char_p, _I32, _I32, _I32P, _I64P, _I32P]),
}

for _name, (_restype, _argtypes) in _SIGNATURES.items():
    _function = getattr(lib, _name)
    _function.restype = _restype
    _function.argtypes = _argtypes
