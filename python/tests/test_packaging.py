"""pip installs the package offline from the source tree."""

import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import hql3318

PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Packaging(unittest.TestCase):
    def test_pip_installs_offline_without_build_isolation(self):
        for module in ("pip", "setuptools", "wheel"):
            if importlib.util.find_spec(module) is None:
                self.skipTest("%s has no %s module: pip cannot build the package offline" % (sys.executable, module))
        with tempfile.TemporaryDirectory() as d:
            # A copy: the build leaves its files beside the sources.
            source = os.path.join(d, "src")
            shutil.copytree(PACKAGE_DIR, source, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
            target = os.path.join(d, "site")
            env = dict(os.environ, PIP_ROOT_USER_ACTION="ignore", PIP_DISABLE_PIP_VERSION_CHECK="1")
            pip = subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                                  "--no-deps", "--target", target, source],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=120)
            self.assertEqual(pip.returncode, 0, pip.stdout.decode(errors="replace"))
            self.assertEqual(sorted(f for f in os.listdir(os.path.join(target, "hql3318")) if f.endswith(".py")),
                             ["__init__.py", "client.py", "protocol.py", "simulation.py"])
            self.assertFalse(os.path.exists(os.path.join(target, "tests")))
            probe = subprocess.run([sys.executable, "-c", "import hql3318; print(hql3318.__file__)"],
                                   stdout=subprocess.PIPE, env=dict(os.environ, PYTHONPATH=target), cwd=d,
                                   timeout=60)
            self.assertTrue(probe.stdout.decode().startswith(target), probe.stdout)

    def test_version_is_the_applications(self):
        with open(os.path.join(PACKAGE_DIR, "..", "CMakeLists.txt"), encoding="utf-8") as f:
            version = re.search(r"project\(hql3318 VERSION ([0-9.]+)", f.read()).group(1)
        self.assertEqual(hql3318.__version__, version)


if __name__ == "__main__":
    unittest.main()
