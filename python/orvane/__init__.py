"""Fingerprint templates, matching and 1:N search with OrvaneCom.

Images are 2-D uint8 NumPy arrays (grey values, 0 = black, at most
640 x 480), PIL images (turned to grey) or paths of 8-bit bitmap files.
Arrays and PIL images are pictures with the top row first, as image libraries
give them; the library works on rows in bitmap-file order (bottom row first),
so they are turned over on the way in, and a print gives the same template as
an array, as a PIL image and as a file (and the same as `orvane extract`).
Pass bottom_up=True for an array already in bitmap-file row order.
Every failure of the library raises OrvaneError with its result code.

Threads: each Extractor owns its workspace and serves one call at a time
(calls from several threads on one extractor wait for each other); the
module-level extract() and quality() use one extractor per thread. Matching
and searching need no workspace. A Gallery is one database connection that
serves one call at a time. The library runs without the GIL.
"""
import ctypes
import os
import threading
from collections import namedtuple

import numpy as np

from . import _capi
from ._capi import MAX_MINUTIAE, MAX_TEMPLATE_BYTES, lib as _lib

__all__ = [
    "OrvaneError", "Template", "Extractor", "TemplateSet", "Hit", "MINUTIA_DTYPE",
    "Gallery", "GalleryHit", "Verification",
    "extract", "quality", "match", "identify", "version",
    "MAX_TEMPLATE_BYTES", "MAX_MINUTIAE",
]

__version__ = "0.1.0"

# One row per minutia: position in pixels, direction in degrees (0..359, 90
# points towards increasing y), kind (1 ending, 2 bifurcation) and the three
# ring orientations (0..179, 255 where there was no sample).
MINUTIA_DTYPE = np.dtype([
    ("x", np.int32), ("y", np.int32), ("direction", np.int32), ("kind", np.int32),
    ("ring_orientation", np.int32, (3,)),
])

Hit = namedtuple("Hit", ["index", "score"])
GalleryHit = namedtuple("GalleryHit", ["id", "subject", "finger", "impression", "score"])
Verification = namedtuple("Verification", ["accepted", "score", "id"])


class OrvaneError(Exception):
    """A failure reported by the library: `code` is its result code."""

    def __init__(self, code, message):
        super().__init__(f"{message} (result {code})")
        self.code = code
        self.message = message


def _check(code):
    if code != 0:
        message = _lib.orvane_error_message().decode("utf-8", "replace")
        raise OrvaneError(code, message or _lib.orvane_result_text(code).decode())


def version():
    return _lib.orvane_version().decode()


def _u8(buffer):
    return ctypes.cast(buffer, ctypes.POINTER(ctypes.c_uint8))


class Template:
    """A feature template: its bytes (`data`) and its minutiae."""

    __slots__ = ("_data", "_buffer", "_minutiae")

    def __init__(self, data):
        data = bytes(data)
        buffer = (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data.ljust(1, b"\0"))
        minutiae = (_capi.Minutia * MAX_MINUTIAE)()
        count = ctypes.c_size_t()
        _check(_lib.orvane_template_minutiae(buffer, len(data), minutiae, MAX_MINUTIAE, ctypes.byref(count)))
        rows = np.frombuffer(bytes(minutiae), dtype=MINUTIA_DTYPE, count=count.value)
        rows.flags.writeable = False
        self._data, self._buffer, self._minutiae = data, buffer, rows

    @classmethod
    def load(cls, path):
        """A template file (its bytes exactly), as written by `orvane extract -o`."""
        with open(path, "rb") as f:
            return cls(f.read(MAX_TEMPLATE_BYTES + 1))

    def save(self, path):
        with open(path, "wb") as f:
            f.write(self._data)

    @property
    def data(self):
        return self._data

    @property
    def minutiae(self):
        """The minutiae as a read-only NumPy structured array (MINUTIA_DTYPE)."""
        return self._minutiae

    def __bytes__(self):
        return self._data

    def __len__(self):
        return len(self._data)

    def __eq__(self, other):
        return isinstance(other, Template) and other._data == self._data

    def __hash__(self):
        return hash(self._data)

    def __repr__(self):
        return f"Template({len(self._minutiae)} minutiae, {len(self._data)} bytes)"

    def match(self, reference, quick=False):
        """Score of this template (the probe) against reference."""
        return match(self, reference, quick)


def _as_template(value):
    return value if isinstance(value, Template) else Template(value)


def _grey_pixels(image, bottom_up):
    """The image's rows in the library's order, as a C-contiguous 2-D uint8 array."""
    if hasattr(image, "convert") and hasattr(image, "mode"):  # PIL image
        image = np.asarray(image if image.mode == "L" else image.convert("L"))
    if not isinstance(image, np.ndarray):
        raise TypeError("an image is a 2-D uint8 NumPy array, a PIL image or a path, not "
                        + type(image).__name__)
    if image.ndim != 2 or image.dtype != np.uint8:
        raise ValueError(f"an image array must be 2-D uint8, not {image.ndim}-D {image.dtype}")
    return np.ascontiguousarray(image if bottom_up else image[::-1])


def _is_path(image):
    return isinstance(image, (str, bytes, os.PathLike))


class Extractor:
    """Extraction and quality over a workspace of its own (about 1.3 MB)."""

    def __init__(self):
        handle = ctypes.c_void_p()
        _check(_lib.orvane_workspace_create(ctypes.byref(handle)))
        self._handle = handle
        self._lock = threading.Lock()

    def close(self):
        with self._lock:
            if self._handle:
                _lib.orvane_workspace_destroy(self._handle)
                self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        handle = getattr(self, "_handle", None)
        if handle:
            _lib.orvane_workspace_destroy(handle)

    def _workspace(self):
        if not self._handle:
            raise ValueError("the extractor is closed")
        return self._handle

    def extract(self, image, bottom_up=False):
        """Template of an image: a 2-D uint8 array, a PIL image or a bitmap path."""
        out = (ctypes.c_uint8 * MAX_TEMPLATE_BYTES)()
        length = ctypes.c_size_t()
        if _is_path(image):
            path = os.fsencode(image)
            with self._lock:
                code = _lib.orvane_extract_file(self._workspace(), path, out, MAX_TEMPLATE_BYTES, ctypes.byref(length))
                _check(code)
        else:
            pixels = _grey_pixels(image, bottom_up)
            height, width = pixels.shape
            with self._lock:
                code = _lib.orvane_extract(self._workspace(), pixels.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8)),
                                           width, height, out, MAX_TEMPLATE_BYTES, ctypes.byref(length))
                _check(code)
        return Template(bytes(out[:length.value]))

    def quality(self, image, bottom_up=False):
        """Share of the frame covered by print, 0 to 100."""
        value = ctypes.c_int32()
        if _is_path(image):
            path = os.fsencode(image)
            with self._lock:
                _check(_lib.orvane_quality_file(self._workspace(), path, ctypes.byref(value)))
            return value.value
        pixels = _grey_pixels(image, bottom_up)
        height, width = pixels.shape
        with self._lock:
            code = _lib.orvane_quality(self._workspace(), pixels.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8)),
                                       width, height, ctypes.byref(value))
            _check(code)
        return value.value


_per_thread = threading.local()


def _thread_extractor():
    extractor = getattr(_per_thread, "extractor", None)
    if extractor is None:
        extractor = _per_thread.extractor = Extractor()
    return extractor


def extract(image, bottom_up=False):
    """Template of an image, with this thread's own extractor."""
    return _thread_extractor().extract(image, bottom_up)


def quality(image, bottom_up=False):
    """Quality (0 to 100) of an image, with this thread's own extractor."""
    return _thread_extractor().quality(image, bottom_up)


def match(probe, reference, quick=False):
    """Score of probe against reference (Templates or template bytes)."""
    probe, reference = _as_template(probe), _as_template(reference)
    score = ctypes.c_int32()
    mode = _capi.MATCH_QUICK if quick else _capi.MATCH_FULL
    _check(_lib.orvane_match(probe._buffer, len(probe), reference._buffer, len(reference), mode, ctypes.byref(score)))
    return score.value


class TemplateSet:
    """Templates prepared for 1:N search; an entry's index is its position."""

    def __init__(self, templates=()):
        handle = ctypes.c_void_p()
        _check(_lib.orvane_template_set_create(ctypes.byref(handle)))
        self._handle = handle
        for t in templates:
            self.add(t)

    def __del__(self):
        handle = getattr(self, "_handle", None)
        if handle:
            _lib.orvane_template_set_destroy(handle)
            self._handle = None

    def add(self, template):
        """Appends a template and returns its index."""
        template = _as_template(template)
        _check(_lib.orvane_template_set_add(self._handle, template._buffer, len(template)))
        return len(self) - 1

    def __len__(self):
        size = ctypes.c_size_t()
        _check(_lib.orvane_template_set_size(self._handle, ctypes.byref(size)))
        return size.value

    def search(self, probe, top=10, threshold=0, quick=False, threads=0):
        """The best `top` entries scoring at least `threshold`, as Hits: score
        descending, then lower index first."""
        probe = _as_template(probe)
        options = _search_options(top, threshold, quick, threads)
        capacity = min(top, len(self))
        hits = (_capi.Hit * max(capacity, 1))()
        count = ctypes.c_size_t()
        _check(_lib.orvane_search(self._handle, probe._buffer, len(probe), ctypes.byref(options), hits, capacity,
                                  ctypes.byref(count)))
        return [Hit(hits[i].index, hits[i].score) for i in range(count.value)]


def identify(probe, templates, top=10, threshold=0, quick=False, threads=0):
    """1:N search of probe over a list of templates (see TemplateSet.search)."""
    return TemplateSet(templates).search(probe, top=top, threshold=threshold, quick=quick, threads=threads)


def _search_options(top, threshold, quick, threads):
    if top < 0 or threads < 0:
        raise ValueError("top and threads must not be negative")
    options = _lib.orvane_search_defaults()
    options.top_k, options.threshold, options.threads = top, threshold, threads
    options.mode = _capi.MATCH_QUICK if quick else _capi.MATCH_FULL
    return options


class Gallery:
    """Enrolled prints kept in an SQLite file (created when missing, unless
    read_only): enrolment with metadata, identification and verification."""

    def __init__(self, path, read_only=False):
        handle = ctypes.c_void_p()
        mode = 1 if read_only else 0
        _check(_lib.orvane_gallery_open(os.fsencode(path), mode, ctypes.byref(handle)))
        self._handle = handle

    def close(self):
        if self._handle:
            _lib.orvane_gallery_close(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    def _gallery(self):
        if not self._handle:
            raise ValueError("the gallery is closed")
        return self._handle

    def enrol(self, print_, subject, finger=0, impression=0, source_name=None, bottom_up=False):
        """Enrols a print (a Template or template bytes, an image or a bitmap
        path) for a subject and returns its row id. Images are extracted, their
        quality measured and their bytes remembered: the same image is refused
        a second time (OrvaneError 20500, as every refusal)."""
        info = _capi.PrintInfo(subject.encode("utf-8"), finger, impression,
                               None if source_name is None else source_name.encode("utf-8"))
        row = ctypes.c_int64()
        if _is_path(print_):
            code = _lib.orvane_gallery_enrol_file(self._gallery(), ctypes.byref(info), os.fsencode(print_),
                                                  ctypes.byref(row))
        elif isinstance(print_, (Template, bytes, bytearray, memoryview)):
            t = _as_template(print_)
            code = _lib.orvane_gallery_enrol_template(self._gallery(), ctypes.byref(info), t._buffer, len(t),
                                                      ctypes.byref(row))
        else:
            pixels = _grey_pixels(print_, bottom_up)
            height, width = pixels.shape
            code = _lib.orvane_gallery_enrol_image(self._gallery(), ctypes.byref(info),
                                                   pixels.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8)),
                                                   width, height, ctypes.byref(row))
        _check(code)
        return row.value

    def remove(self, row_id):
        """Removes a row; returns whether it existed."""
        removed = ctypes.c_int32()
        _check(_lib.orvane_gallery_remove(self._gallery(), row_id, ctypes.byref(removed)))
        return bool(removed.value)

    def __len__(self):
        count = ctypes.c_size_t()
        _check(_lib.orvane_gallery_count(self._gallery(), ctypes.byref(count)))
        return count.value

    def _probe(self, probe):
        return probe if isinstance(probe, (Template, bytes, bytearray, memoryview)) else extract(probe)

    def identify(self, probe, top=10, threshold=0, quick=False, threads=0):
        """The best `top` rows scoring at least `threshold` for a probe
        (template or image), as GalleryHits: score descending, then row id."""
        probe = _as_template(self._probe(probe))
        options = _search_options(top, threshold, quick, threads)
        capacity = min(top, len(self))
        hits = (_capi.GalleryHit * max(capacity, 1))()
        count = ctypes.c_size_t()
        _check(_lib.orvane_gallery_identify(self._gallery(), probe._buffer, len(probe), ctypes.byref(options), hits,
                                            capacity, ctypes.byref(count)))
        return [GalleryHit(h.id, h.subject.decode("utf-8"), h.finger, h.impression, h.score)
                for h in hits[:count.value]]

    def verify(self, probe, subject, threshold, quick=False):
        """Whether the probe matches any print of subject with at least
        `threshold`: Verification(accepted, best score, its row id or 0)."""
        probe = _as_template(self._probe(probe))
        score, row, accepted = ctypes.c_int32(), ctypes.c_int64(), ctypes.c_int32()
        mode = _capi.MATCH_QUICK if quick else _capi.MATCH_FULL
        _check(_lib.orvane_gallery_verify(self._gallery(), probe._buffer, len(probe), subject.encode("utf-8"),
                                          threshold, mode, ctypes.byref(score), ctypes.byref(row),
                                          ctypes.byref(accepted)))
        return Verification(bool(accepted.value), score.value, row.value)
