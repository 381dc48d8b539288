"""Checks that the README's tables and links say what the tree builds and installs.

    check_readme.py SOURCE_DIR BUILD_DIR

installs BUILD_DIR into a temporary prefix and compares: each component row with the installed
library, pkg-config file, header and CMake target; the package table with debian/control; each
relative link (and its #anchor) with the files it points to; each C and Python example with the
guide's, which the tests compile and type-check: every line of it must be one of theirs. Prints
every mismatch; exits 1 if there is one.
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path


def table(text: str, first_header: str) -> list[list[str]]:
    """The body rows of the Markdown table whose first header cell is `first_header`."""
    lines = text.splitlines()
    for i, line in enumerate(lines):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if line.startswith("|") and cells[0] == first_header:
            rows = []
            for row in lines[i + 2:]:
                if not row.startswith("|"):
                    break
                rows.append([c.strip().strip("`") for c in row.strip().strip("|").split("|")])
            return rows
    return []


def slug(heading: str) -> str:
    """The anchor a Markdown renderer gives a heading."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def check_components(rows: list[list[str]], prefix: Path) -> list[str]:
    errors = []
    if not rows:
        return ["the README has no component table"]
    libdirs = [d for d in prefix.glob("lib*") if d.is_dir()]
    libdirs += [d for top in list(libdirs) for d in top.glob("*-linux-gnu*")]
    for component, target, library, pc, header in rows:
        if not any(list(d.glob(library + ".*")) for d in libdirs):
            errors.append(f"{component}: no {library}.a or {library}.so installed")
        if not any((d / "pkgconfig" / f"{pc}.pc").is_file() for d in libdirs):
            errors.append(f"{component}: no {pc}.pc installed")
        if not (prefix / "include" / header.strip("<>")).is_file():
            errors.append(f"{component}: no {header} installed")
        exports = [f.read_text() for d in libdirs for f in d.glob(f"cmake/KOVModule/KOVModule{component}Targets.cmake")]
        if not any(f"add_library({target} " in e for e in exports):
            errors.append(f"{component}: the CMake package does not define {target}")
    return errors


def check_packages(rows: list[list[str]], control: str) -> list[str]:
    built = set(re.findall(r"^Package:\s*(\S+)", control, re.M))
    listed = {row[0] for row in rows}
    errors = [f"the README lists {p}, which debian/control does not build" for p in sorted(listed - built)]
    errors += [f"debian/control builds {p}, which the README does not list" for p in sorted(built - listed)]
    return errors


def check_links(readme: Path) -> list[str]:
    errors = []
    for target in re.findall(r"\]\(([^)\s]+)\)", readme.read_text()) + re.findall(r'src="([^"]+)"', readme.read_text()):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        file = readme.parent / path if path else readme
        if not file.exists():
            errors.append(f"the link {target} points to no file")
        elif anchor:
            headings = re.findall(r"^#+\s+(.*)$", file.read_text(), re.M)
            if anchor not in {slug(h) for h in headings}:
                errors.append(f"the link {target} points to no heading")
    for named in re.findall(r"`((?:scripts|packaging|docs)/[^` ]+)`", readme.read_text()):
        if not (readme.parent / named).exists():
            errors.append(f"the README names {named}, which does not exist")
    return errors


def code_blocks(text: str, language: str) -> list[list[str]]:
    """The stripped, non-blank lines of each fenced block of the language."""
    blocks = re.findall(rf"^```{language}\n(.*?)^```", text, re.M | re.S)
    return [[line.strip() for line in block.splitlines() if line.strip()] for block in blocks]


def check_examples(readme: str, guide: str) -> list[str]:
    errors = []
    for language in ("c", "python"):
        known = {line for block in code_blocks(guide, language) for line in block}
        for block in code_blocks(readme, language):
            errors += [f"the README's {language} line is in no example of the guide: {line}"
                       for line in block if line not in known]
    return errors


def main() -> int:
    source, build = Path(sys.argv[1]), Path(sys.argv[2])
    readme = (source / "README.md").read_text()
    errors = check_packages(table(readme, "package"), (source / "debian/control").read_text())
    errors += check_links(source / "README.md")
    errors += check_examples(readme, (source / "docs/integration-guide.md").read_text())
    with tempfile.TemporaryDirectory() as prefix:
        subprocess.run(["cmake", "--install", str(build), "--prefix", prefix],
                       check=True, stdout=subprocess.DEVNULL)
        errors += check_components(table(readme, "component"), Path(prefix))
    for error in errors:
        print(error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
