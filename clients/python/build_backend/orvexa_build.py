"""Build backend of the orvexa package (PEP 517), standard library only.

pip calls it when the package is installed from its source folder. It writes a pure
Python wheel holding the ``orvexa`` package, its metadata and the console scripts named
in pyproject.toml. It exists because the machines this runs on reach no Python package
index, so setuptools' need for the ``wheel`` package cannot be met there.
"""

import base64
import hashlib
import os
import tomllib
import zipfile

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_PACKAGE = "orvexa"


def _project():
    with open(os.path.join(_ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


def _dist_info_name(project):
    return f"{project['name']}-{project['version']}.dist-info"


def _metadata_files(project):
    """The dist-info files (name -> bytes) apart from RECORD."""
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project.get('description', '')}",
        f"Requires-Python: {project.get('requires-python', '')}",
    ]
    body = ""
    readme = project.get("readme")
    if readme and os.path.exists(os.path.join(_ROOT, readme)):
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(_ROOT, readme), encoding="utf-8") as f:
            body = "\n" + f.read()
    files = {
        "METADATA": ("\n".join(lines) + "\n" + body).encode(),
        "WHEEL": b"Wheel-Version: 1.0\nGenerator: orvexa_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n",
        "top_level.txt": f"{_PACKAGE}\n".encode(),
    }
    scripts = project.get("scripts", {})
    if scripts:
        entries = "".join(f"{name} = {target}\n" for name, target in scripts.items())
        files["entry_points.txt"] = ("[console_scripts]\n" + entries).encode()
    return files


def _package_files():
    """(archive name, path) of every Python file of the package."""
    base = os.path.join(_ROOT, _PACKAGE)
    for folder, dirs, names in os.walk(base):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(names):
            if name.endswith(".py"):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, _ROOT).replace(os.sep, "/"), path


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _project()
    name = _dist_info_name(project)
    target = os.path.join(metadata_directory, name)
    os.makedirs(target, exist_ok=True)
    for file_name, data in _metadata_files(project).items():
        with open(os.path.join(target, file_name), "wb") as f:
            f.write(data)
    return name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    wheel_name = f"{project['name']}-{project['version']}-py3-none-any.whl"
    dist_info = _dist_info_name(project)
    records = []
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w",
                         zipfile.ZIP_DEFLATED) as wheel:
        for archive_name, path in _package_files():
            with open(path, "rb") as f:
                data = f.read()
            wheel.writestr(archive_name, data)
            records.append(_record_line(archive_name, data))
        for file_name, data in _metadata_files(project).items():
            archive_name = f"{dist_info}/{file_name}"
            wheel.writestr(archive_name, data)
            records.append(_record_line(archive_name, data))
        records.append(f"{dist_info}/RECORD,,")
        wheel.writestr(f"{dist_info}/RECORD", "\n".join(records) + "\n")
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    import tarfile

    project = _project()
    base = f"{project['name']}-{project['version']}"
    sdist_name = base + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, sdist_name), "w:gz") as tar:
        for name in ("pyproject.toml", "README.md"):
            if os.path.exists(os.path.join(_ROOT, name)):
                tar.add(os.path.join(_ROOT, name), f"{base}/{name}")
        tar.add(os.path.join(_ROOT, "build_backend", "orvexa_build.py"),
                f"{base}/build_backend/orvexa_build.py")
        for archive_name, path in _package_files():
            tar.add(path, f"{base}/{archive_name}")
        info = ("Metadata-Version: 2.1\n"
                f"Name: {project['name']}\nVersion: {project['version']}\n").encode()
        import io
        member = tarfile.TarInfo(f"{base}/PKG-INFO")
        member.size = len(info)
        tar.addfile(member, io.BytesIO(info))
    return sdist_name
