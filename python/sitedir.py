"""Prints where the Python running this looks for packages installed under a prefix.

    python3 sitedir.py PREFIX

The user's own base (~/.local, or $PYTHONUSERBASE) gives its user site
directory; a prefix this Python already searches (/usr/local on Debian,
the prefix of a virtual environment) gives that directory; any other
prefix gives PREFIX/lib/pythonX.Y/site-packages, which then has to be put
on PYTHONPATH (said on standard error).
"""

import os
import site
import sys
import sysconfig


def site_dir(prefix):
    prefix = os.path.realpath(prefix)
    if os.path.realpath(site.getuserbase()) == prefix:
        return site.getusersitepackages(), True
    for directory in site.getsitepackages():
        relative = os.path.relpath(os.path.realpath(directory), prefix)
        if relative.split(os.sep)[0] in ("lib", "lib64"):
            return directory, True
    scheme = "posix_prefix" if "posix_prefix" in sysconfig.get_scheme_names() else None
    return sysconfig.get_path("purelib", scheme, vars={"base": prefix, "platbase": prefix}), False


if __name__ == "__main__":
    directory, found = site_dir(sys.argv[1])
    if not found:
        sys.stderr.write("%s is not searched by %s: add it to PYTHONPATH\n" % (directory, sys.executable))
    print(directory)
