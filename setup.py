"""The extension module built by the project's own CMake build, for pip and the PEP 517 backend of setuptools.

setuptools does not compile anything itself: build_ext configures CMake in its temporary folder (the module
alone, without the tests), builds there, and copies the module to where setuptools collects the wheel. The
CMake tree stays in that folder, so a later build of the same checkout only recompiles what changed.
"""
import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        tree = Path(self.build_temp).resolve() / "cmake"
        # GoogleTest is refused outright, so the module is known to build where it is not installed.
        configure = ["cmake", "-S", str(ROOT), "-B", str(tree), "-DCMAKE_BUILD_TYPE=Release", "-DQUILLEX_TESTS=OFF",
                     "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON", f"-DPython3_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja") and not (tree / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        jobs = self.parallel or os.cpu_count() or 1
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(tree), "--target", "quillex", "--parallel", str(jobs)], check=True)
        built = tree / ("quillex" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not built.is_file():
            raise RuntimeError(f"the CMake build made no {built.name}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(built, target)


# The distribution is the one extension module and its type stubs. A single-file module cannot carry a py.typed
# marker, so the stubs are a stub-only package beside it, which type checkers look up before the module itself.
STUBS = "quillex-stubs"
setup(ext_modules=[Extension("quillex", sources=[])], cmdclass={"build_ext": CMakeBuild}, py_modules=[],
      packages=[STUBS], package_dir={STUBS: f"stubs/{STUBS}"}, package_data={STUBS: ["__init__.pyi", "py.typed"]})
