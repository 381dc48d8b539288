# The extension cffi generates from <KOVModule/kov.h> (see _build.py).
from typing import Any

ffi: Any
lib: Any
