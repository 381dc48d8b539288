"""Where the package goes under an installation prefix, for the python3 that runs this.

    python3 site_dir.py PREFIX            the folder, relative to PREFIX
    python3 site_dir.py PREFIX FOLDER     "searched" when that python3 looks in PREFIX/FOLDER

The folder is the interpreter's site folder that lies under the prefix, the nearest when
several do (Debian's python3: lib/python3.X/dist-packages under /usr/local, and
lib/python3/dist-packages under /usr); under any other prefix, the prefix's own
lib/python3.X/site-packages, which python3 searches once it is on PYTHONPATH.
"""

import os
import site
import sys
import sysconfig


def searched() -> list[str]:
    folders = site.getsitepackages()
    if site.ENABLE_USER_SITE:
        folders.append(site.getusersitepackages())
    return [os.path.normpath(folder) for folder in folders]


def folder_under(prefix: str) -> str:
    under = [os.path.relpath(folder, prefix) for folder in searched()
             if os.path.commonpath([prefix, folder]) == prefix]
    if under:
        return min(under, key=lambda folder: folder.count(os.sep))
    own = sysconfig.get_path("platlib", "posix_prefix", {"base": prefix, "platbase": prefix})
    return os.path.relpath(own, prefix)


if __name__ == "__main__":
    prefix = os.path.normpath(os.path.abspath(sys.argv[1]))
    if len(sys.argv) > 2:
        print("searched" if os.path.join(prefix, sys.argv[2]) in searched() else "not searched")
    else:
        print(folder_under(prefix))
