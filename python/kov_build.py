"""The cffi build description of kovmodule._kov, the extension over <KOVModule/kov.h>.

Out-of-line API mode: the C compiler, not cffi, reads the real header, so every struct
layout and constant the Python side uses is checked against it when the extension is
compiled. The declarations cffi needs are the header's own, taken from it at build time
(its preprocessor lines dropped), so they cannot drift apart.

Two builds use it. The library's CMake build writes the extension's C source and compiles it
like its other targets:

    python3 kov_build.py HEADER OUTPUT.c

setuptools (pyproject.toml, setup.py) builds it against an installed library, which
pkg-config finds as KOVModuleC: ffibuilder() below, named in setup.py's cffi_modules.
"""

import os
import pathlib
import shlex
import subprocess
import sys

import cffi

# The callbacks of kov_callbacks, implemented in Python (kovmodule._till).
PYTHON_CALLBACKS = """
extern "Python" void _kov_on_screen(void *, const kov_screen *);
extern "Python" void _kov_on_result(void *, const kov_result *);
extern "Python" void _kov_on_log(void *, int, const char *);
extern "Python" void _kov_on_signature(void *, const char *);
"""

LIBRARY = "KOVModuleC"


def declarations(header_text):
    """The header's C declarations without its preprocessor lines.

    The lines that only a C++ compiler sees (between "#ifdef __cplusplus" and its "#endif")
    go too, and the export and deprecation macros are dropped, as cffi reads no attributes.
    """
    kept = []
    cplusplus_only = False
    for line in header_text.splitlines():
        if line.startswith("#"):
            cplusplus_only = line.startswith("#ifdef __cplusplus")
            continue
        if not cplusplus_only:
            kept.append(line.replace("KOV_C_EXPORT ", "").replace("KOV_DEPRECATED ", ""))
    return "\n".join(kept)


def builder(header, **extension):
    """The FFI builder of kovmodule._kov for the header at the given path; `extension` holds
    setuptools' Extension arguments (include_dirs, libraries ...)."""
    ffi = cffi.FFI()
    ffi.cdef(declarations(pathlib.Path(header).read_text(encoding="utf-8")) + PYTHON_CALLBACKS)
    # The extension wraps every function, the deprecated ones too: quietly.
    ffi.set_source("kovmodule._kov", "#define KOV_DEPRECATED\n#include <KOVModule/kov.h>", **extension)
    return ffi


def pkg_config(*options, packages=(LIBRARY,)):
    """What pkg-config answers about the packages, the installed C interface by default."""
    command = [os.environ.get("PKG_CONFIG", "pkg-config"), *options, *packages]
    try:
        return subprocess.run(command, check=True, capture_output=True, text=True).stdout
    except FileNotFoundError:
        sys.exit(f"kovmodule is built with pkg-config, which is not installed ({command[0]})")
    except subprocess.CalledProcessError as failed:
        sys.exit(f"pkg-config cannot find {LIBRARY}, the library's C interface, or what it needs: install "
                 f"libkovmodule-dev, or set PKG_CONFIG_PATH to the pkgconfig folder of the library's installation "
                 f"(<prefix>/lib/pkgconfig)\n{failed.stderr.strip()}")


def library_version():
    """The installed library's version: the package's."""
    return pkg_config("--modversion").strip()


def needed_by_static_library():
    """The packages a static C interface is built on: the library's other parts, and the
    system's libraries under them (expat, ICU, libcurl, SQLite); none for a shared one.

    They are what its pkg-config file names in Requires.private, followed through the
    library's own parts only: pkg-config --static would follow the system's too and ask for
    their static archives, which a system with shared libraries does not have.
    """
    needed, pending = [], [LIBRARY]
    while pending:
        for line in pkg_config("--print-requires-private", packages=[pending.pop()]).splitlines():
            name = line.split()[0] if line.strip() else None
            if name and name not in needed:
                needed.append(name)
                if name.startswith("KOVModule"):
                    pending.append(name)
    return needed


def ffibuilder():
    """The builder against the library that pkg-config finds, shared or static.

    A shared library outside the system's folders is found at run time through the
    extension's RUNPATH, as the CMake build does it.
    """
    cflags = shlex.split(pkg_config("--cflags"))
    needed = needed_by_static_library()
    libs = shlex.split(pkg_config("--libs", packages=[LIBRARY, *needed]))
    if needed:
        libs.append("-lstdc++")  # the static libraries are C++, the extension is linked as C
    library_dirs = [flag[2:] for flag in libs if flag.startswith("-L")]
    header = pathlib.Path(pkg_config("--variable=includedir").strip(), "KOVModule", "kov.h")
    return builder(
        header,
        include_dirs=[flag[2:] for flag in cflags if flag.startswith("-I")],
        define_macros=[(name, value or None) for name, _, value in
                       (flag[2:].partition("=") for flag in cflags if flag.startswith("-D"))],
        extra_compile_args=[flag for flag in cflags if not flag.startswith(("-I", "-D"))],
        library_dirs=library_dirs,
        runtime_library_dirs=library_dirs,
        libraries=[flag[2:] for flag in libs if flag.startswith("-l")],
        # The module exports PyInit__kov alone: nothing of a static library (C++ template
        # instances included) can clash with another module's.
        extra_link_args=[flag for flag in libs if not flag.startswith(("-L", "-l"))] + ["-Wl,--exclude-libs,ALL"])


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: kov_build.py HEADER OUTPUT.c")
    builder(sys.argv[1]).emit_c_code(sys.argv[2])
