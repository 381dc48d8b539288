"""The cffi build description of kovmodule._kov, the extension over <KOVModule/kov.h>.

Out-of-line API mode: the C compiler, not cffi, reads the real header, so every struct
layout and constant the Python side uses is checked against it when the extension is
compiled. The declarations cffi needs are the header's own, taken from it at build time
(its preprocessor lines dropped), so they cannot drift apart.

    python3 _build.py HEADER OUTPUT.c    writes the extension's C source
"""

import pathlib
import sys

import cffi

# The callbacks of kov_callbacks, implemented in Python (kovmodule._till).
PYTHON_CALLBACKS = """
extern "Python" void _kov_on_screen(void *, const kov_screen *);
extern "Python" void _kov_on_result(void *, const kov_result *);
extern "Python" void _kov_on_log(void *, int, const char *);
extern "Python" void _kov_on_signature(void *, const char *);
"""


def declarations(header_text: str) -> str:
    """The header's C declarations without its preprocessor lines.

    The lines that only a C++ compiler sees (between "#ifdef __cplusplus" and its "#endif")
    go too, and the export macro is dropped, as a static build defines it empty.
    """
    kept = []
    cplusplus_only = False
    for line in header_text.splitlines():
        if line.startswith("#"):
            cplusplus_only = line.startswith("#ifdef __cplusplus")
            continue
        if not cplusplus_only:
            kept.append(line.replace("KOV_C_EXPORT ", ""))
    return "\n".join(kept)


def builder(header: pathlib.Path) -> cffi.FFI:
    """The FFI builder of kovmodule._kov for the header at the given path."""
    ffi = cffi.FFI()
    ffi.cdef(declarations(header.read_text(encoding="utf-8")) + PYTHON_CALLBACKS)
    ffi.set_source("kovmodule._kov", "#include <KOVModule/kov.h>")
    return ffi


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: _build.py HEADER OUTPUT.c")
    builder(pathlib.Path(sys.argv[1])).emit_c_code(sys.argv[2])
