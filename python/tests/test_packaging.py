"""The documented install works offline in a fresh virtual environment."""

import os
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

import hql3318

PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIR = os.path.dirname(PACKAGE_DIR)

# Word for word as README.md, python/README.md and docs/scripting.md give
# them, run from the top of the source tree in an activated environment.
INSTALL = "pip install --no-build-isolation ./python"
EDITABLE = "pip install --no-build-isolation -e ./python"
DOCUMENTS = {
    "README.md": [INSTALL],
    "python/README.md": [INSTALL, EDITABLE],
    "docs/scripting.md": [INSTALL, EDITABLE],
}
MODULES = ["__init__.py", "client.py", "protocol.py", "simulation.py"]


def run(args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300, **kwargs)


def backend():
    sys.path.insert(0, os.path.join(PACKAGE_DIR, "backend"))
    try:
        import hql3318_backend
    finally:
        sys.path.pop(0)
    return hql3318_backend


class DocumentedInstall(unittest.TestCase):
    def test_documents_give_the_tested_commands(self):
        for document, commands in DOCUMENTS.items():
            with open(os.path.join(SOURCE_DIR, document), encoding="utf-8") as f:
                text = f.read()
            for command in commands:
                with self.subTest(document=document, command=command):
                    self.assertIn(command, text)
            # No other pip command that the test does not run.
            said = set(re.findall(r"pip install[^`\n#]*", text))
            self.assertEqual({c.strip() for c in said} - set(commands), set())

    def test_fresh_virtual_environment_offline(self):
        with tempfile.TemporaryDirectory() as work:
            # A copy of the tree's python/ where the command expects it.
            tree = os.path.join(work, "tree")
            shutil.copytree(PACKAGE_DIR, os.path.join(tree, "python"),
                            ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
            venv = os.path.join(work, "venv")
            # The interpreter CMake chose (the system's); failing to make the
            # environment is a failure, not a reason to skip.
            made = run([sys.executable, "-m", "venv", venv])
            self.assertEqual(made.returncode, 0, made.stdout.decode(errors="replace"))
            python = os.path.join(venv, "bin", "python")
            env = {key: value for key, value in os.environ.items() if not key.startswith("PYTHON")}
            env.update(PATH=os.path.join(venv, "bin") + os.pathsep + env.get("PATH", ""), VIRTUAL_ENV=venv,
                       PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_ROOT_USER_ACTION="ignore")

            def where():
                probe = run([python, "-c", "import hql3318; print(hql3318.__file__)"], env=env, cwd=work)
                self.assertEqual(probe.returncode, 0, probe.stdout)
                return probe.stdout.decode().strip()

            pip = run(shlex.split(INSTALL), env=env, cwd=tree)
            self.assertEqual(pip.returncode, 0, pip.stdout.decode(errors="replace"))
            site = os.path.dirname(os.path.dirname(where()))
            self.assertTrue(where().startswith(venv), where())
            # The package and its metadata, nothing of the tree beside it.
            with open(os.path.join(site, "hql3318-%s.dist-info" % hql3318.__version__, "RECORD")) as f:
                installed = [line.split(",")[0] for line in f if line.strip()]
            self.assertEqual(sorted(p for p in installed if p.endswith(".py")), ["hql3318/" + m for m in MODULES])
            self.assertEqual([p for p in installed if not p.startswith(("hql3318/", "hql3318-"))], [])
            self.assertEqual(sorted(e for e in os.listdir(site) if "hql3318" in e.lower()),
                             ["hql3318", "hql3318-%s.dist-info" % hql3318.__version__])

            # Editable: the tree's package, and only the package.
            pip = run(shlex.split(EDITABLE), env=env, cwd=tree)
            self.assertEqual(pip.returncode, 0, pip.stdout.decode(errors="replace"))
            self.assertEqual(where(), os.path.join(tree, "python", "hql3318", "__init__.py"))
            probe = run([python, "-c", "import tests"], env=env, cwd=work)
            self.assertNotEqual(probe.returncode, 0)

    def test_source_archive_builds_the_same_package(self):
        self.assertEqual(backend().get_requires_for_build_sdist(), [])
        with tempfile.TemporaryDirectory() as work:
            archive = backend().build_sdist(work)
            with tarfile.open(os.path.join(work, archive)) as sdist:
                sdist.extractall(work)
            unpacked = os.path.join(work, archive[:-len(".tar.gz")])
            wheels = os.path.join(work, "wheels")
            os.mkdir(wheels)
            # Built from the unpacked archive, as pip would.
            built = run([sys.executable, "-c", "import hql3318_backend as b, sys; print(b.build_wheel(sys.argv[1]))",
                         wheels], cwd=unpacked, env=dict(os.environ, PYTHONPATH=os.path.join(unpacked, "backend")))
            self.assertEqual(built.returncode, 0, built.stdout)
            with zipfile.ZipFile(os.path.join(wheels, built.stdout.decode().strip())) as wheel:
                names = wheel.namelist()
            self.assertEqual(sorted(n for n in names if n.endswith(".py")), ["hql3318/" + m for m in MODULES])
            self.assertIn("hql3318-%s.dist-info/METADATA" % hql3318.__version__, names)

    def test_backend_reads_pyproject_without_tomllib(self):
        try:
            import tomllib
        except ImportError:
            self.skipTest("this Python has no tomllib to compare with")
        with open(os.path.join(PACKAGE_DIR, "pyproject.toml"), encoding="utf-8") as f:
            text = f.read()
        self.assertEqual(backend()._simple_toml(text), tomllib.loads(text))

    def test_version_is_the_applications(self):
        with open(os.path.join(PACKAGE_DIR, "..", "CMakeLists.txt"), encoding="utf-8") as f:
            version = re.search(r"project\(hql3318 VERSION ([0-9.]+)", f.read()).group(1)
        self.assertEqual(hql3318.__version__, version)


if __name__ == "__main__":
    unittest.main()
