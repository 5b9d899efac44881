"""The build backend of the package (PEP 517 and 660), standard library only.

pip builds the package with this module from the source tree, so that
``pip install ./python`` works offline in a fresh virtual environment,
where neither setuptools' wheel support nor a network is at hand. The
wheel holds the package ``hql3318`` and its metadata, nothing else.
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE = "hql3318"
TAG = "py3-none-any"
# Files in an archive get this time, so that the same sources give the same archive.
EPOCH = (1980, 1, 1, 0, 0, 0)
EPOCH_SECONDS = 315532800


def _project():
    """The [project] table of pyproject.toml."""
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        text = f.read().decode("utf-8")
    try:
        import tomllib
    except ImportError:
        return _simple_toml(text).get("project", {})
    return tomllib.loads(text).get("project", {})


def _simple_toml(text):
    """Tables of "key = value" with strings and lists of strings: what pyproject.toml holds (Python < 3.11)."""
    import ast

    tables, table, pending = {}, None, None
    for line in text.splitlines():
        stripped = line.strip()
        if pending is not None:
            pending[1].append(line)
            if stripped.startswith("]"):
                table[pending[0]] = ast.literal_eval("\n".join(pending[1]))
                pending = None
            continue
        if not stripped or stripped.startswith("#"):
            continue
        header = re.fullmatch(r"\[([A-Za-z0-9_.-]+)\]", stripped)
        if header:
            table = tables.setdefault(header.group(1), {})
            continue
        key, _, value = stripped.partition("=")
        key, value = key.strip(), value.strip()
        if table is None or not key:
            continue
        if value == "[":
            pending = (key, ["["])
        elif value.startswith(("\"", "[")):
            table[key] = ast.literal_eval(value)
    return tables


def _version():
    with open(os.path.join(ROOT, PACKAGE, "__init__.py"), encoding="utf-8") as f:
        return re.search(r'^__version__ = "([^"]+)"', f.read(), re.M).group(1)


def _metadata():
    project = _project()
    lines = [
        "Metadata-Version: 2.1",
        "Name: " + project["name"],
        "Version: " + _version(),
        "Summary: " + project.get("description", ""),
    ]
    if "requires-python" in project:
        lines.append("Requires-Python: " + project["requires-python"])
    lines += ["Classifier: " + c for c in project.get("classifiers", [])]
    readme = project.get("readme")
    body = ""
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(ROOT, readme), encoding="utf-8") as f:
            body = f.read()
    return ("\n".join(lines) + "\n\n" + body).encode("utf-8")


def _dist_info():
    return "%s-%s.dist-info" % (PACKAGE, _version())


def _wheel_file():
    return ("Wheel-Version: 1.0\nGenerator: hql3318_backend\nRoot-Is-Purelib: true\nTag: %s\n" % TAG).encode()


def _package_files():
    """The package's modules, relative to the source tree, sorted."""
    names = []
    for entry in sorted(os.listdir(os.path.join(ROOT, PACKAGE))):
        if entry.endswith(".py"):
            names.append(PACKAGE + "/" + entry)
    return names


def _read(relative):
    with open(os.path.join(ROOT, relative), "rb") as f:
        return f.read()


def _write_wheel(wheel_directory, files):
    """Writes a wheel of (archive name, bytes) plus its metadata and RECORD; returns its file name."""
    info = _dist_info()
    files = list(files) + [(info + "/METADATA", _metadata()), (info + "/WHEEL", _wheel_file())]
    record = []
    name = "%s-%s-%s.whl" % (PACKAGE, _version(), TAG)
    path = os.path.join(wheel_directory, name)
    # Written beside and renamed: a wheel is there whole or not at all.
    partial = path + ".part"
    try:
        with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as wheel:
            for archive_name, data in files:
                _add(wheel, archive_name, data)
                digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
                record.append("%s,sha256=%s,%d" % (archive_name, digest, len(data)))
            record.append(info + "/RECORD,,")
            _add(wheel, info + "/RECORD", ("\n".join(record) + "\n").encode())
        os.replace(partial, path)
    finally:
        if os.path.exists(partial):
            os.unlink(partial)
    return name


def _add(archive, name, data):
    entry = zipfile.ZipInfo(name, EPOCH)
    entry.external_attr = 0o644 << 16
    entry.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(entry, data)


# A module that makes "import hql3318" find the sources, and only that
# package: the source tree's other files (tests, this backend) stay out of
# sys.path.
_EDITABLE_FINDER = '''"""Finds the package hql3318 in its source tree (an editable install)."""
import importlib.abc
import importlib.util
import sys

SOURCE = %r


class _Finder(importlib.abc.MetaPathFinder):
    def find_spec(self, name, path=None, target=None):
        if name != "hql3318":
            return None
        return importlib.util.spec_from_file_location(name, SOURCE + "/__init__.py",
                                                      submodule_search_locations=[SOURCE])


if not any(isinstance(f, _Finder) for f in sys.meta_path):
    sys.meta_path.append(_Finder())
'''


# PEP 517


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    info = os.path.join(metadata_directory, _dist_info())
    os.makedirs(info, exist_ok=True)
    for name, data in (("METADATA", _metadata()), ("WHEEL", _wheel_file())):
        with open(os.path.join(info, name), "wb") as f:
            f.write(data)
    return _dist_info()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, [(name, _read(name)) for name in _package_files()])


def build_sdist(sdist_directory, config_settings=None):
    base = "%s-%s" % (PACKAGE, _version())
    name = base + ".tar.gz"
    members = ["pyproject.toml", "README.md", "backend/hql3318_backend.py"] + _package_files()
    path = os.path.join(sdist_directory, name)
    partial = path + ".part"
    try:
        with open(partial, "wb") as raw, tarfile.open(fileobj=raw, mode="w:gz", format=tarfile.PAX_FORMAT) as sdist:
            for member, data in [(m, _read(m)) for m in members] + [("PKG-INFO", _metadata())]:
                entry = tarfile.TarInfo(base + "/" + member)
                entry.size = len(data)
                entry.mode = 0o644
                entry.mtime = EPOCH_SECONDS
                sdist.addfile(entry, io.BytesIO(data))
        os.replace(partial, path)
    finally:
        if os.path.exists(partial):
            os.unlink(partial)
    return name


# PEP 660: pip install -e


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_editable(metadata_directory, config_settings=None):
    return prepare_metadata_for_build_wheel(metadata_directory, config_settings)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    finder = "__editable___%s_finder" % PACKAGE
    source = os.path.join(ROOT, PACKAGE)
    return _write_wheel(wheel_directory, [
        (finder + ".py", (_EDITABLE_FINDER % source).encode("utf-8")),
        ("__editable__.%s.pth" % PACKAGE, ("import " + finder + "\n").encode()),
    ])
