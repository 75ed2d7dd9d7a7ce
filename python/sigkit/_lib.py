"""Loads libsigkit through CFFI's ABI mode: no compiler is needed."""

import os

from cffi import FFI

from ._cdef import CDEF

ffi = FFI()
ffi.cdef(CDEF)

SONAME = "libsigkit.so.1"


def _candidates():
    """Where the library is looked for, in order."""
    given = os.environ.get("SIGKIT_LIBRARY")
    if given:
        yield given
        return
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        # Written by `cmake --install`: the library's place relative to this folder.
        from ._install import LIBRARY_RELATIVE

        yield os.path.normpath(os.path.join(here, LIBRARY_RELATIVE))
    except ImportError:
        pass
    yield os.path.join(here, SONAME)
    # The system's loader: the library installed in a standard folder or on LD_LIBRARY_PATH.
    yield SONAME


def _load():
    errors = []
    for path in _candidates():
        if os.sep in path and not os.path.exists(path):
            errors.append(f"{path}: not there")
            continue
        try:
            return ffi.dlopen(path)
        except OSError as error:
            errors.append(str(error))
    raise ImportError(
        "sigkit: libsigkit could not be loaded (set SIGKIT_LIBRARY to its path): "
        + "; ".join(errors)
    )


lib = _load()
