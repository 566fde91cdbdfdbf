"""The type stubs as installed, checked against the module as installed.

Run by scripts/check_install.sh with the interpreter of the fresh environment that holds both, from outside the
checkout: `python -I tests/typing/check_types.py README.md`. It checks that
- the stub package and its marker lie beside the module, in the same site-packages folder;
- mypy's stubtest finds the stubs consistent with the module: names, methods and functions;
- what stubtest cannot see agrees too: each class's constructor parameters with the class's text signature
  (the run-time `__new__` of every class takes `*args, **kwargs`), and each class's operators with the slots it
  has (stubtest passes over a missing reflected operator);
- `mypy --strict` accepts the stubs themselves, the README's example and every_element.py, and that program
  runs;
- `mypy --strict` draws exactly the expected error on each marked line of type_errors.py, and each such line
  raises at run time.
"""
import ast
import inspect
import os
import re
import runpy
import subprocess
import sys
import tempfile
import traceback
from collections.abc import Callable
from pathlib import Path

import quillex

HERE = Path(__file__).resolve().parent
REFUSED = HERE / "type_errors.py"
OPERATORS = ("__add__", "__radd__", "__or__", "__ror__", "__ilshift__")
ERROR_LINE = re.compile(r"^(?P<path>.+?):(?P<line>\d+): error: .*  \[(?P<code>[a-z-]+)\]$")
EXPECT = re.compile(r"  # expect: (?P<code>[a-z-]+)$")

failures: list[str] = []


def fail(message: str) -> None:
    failures.append(message)
    print(f"FAIL: {message}")


def run(*args: str, cwd: str) -> subprocess.CompletedProcess[str]:
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    return subprocess.run([sys.executable, "-I", *args], cwd=cwd, env=env, capture_output=True, text=True)


def installed_stubs() -> Path:
    stubs = Path(quillex.__file__).resolve().parent / "quillex-stubs"
    for name in ("__init__.pyi", "py.typed"):
        if not (stubs / name).is_file():
            fail(f"{stubs / name} is not installed beside {quillex.__file__}")
    return stubs / "__init__.pyi"


def stub_parameters(function: ast.FunctionDef) -> list[inspect.Parameter]:
    """The parameters after `cls`, without annotations, as inspect gives a text signature's."""
    a = function.args
    P = inspect.Parameter
    names = [p.arg for p in a.posonlyargs + a.args]
    kinds = [P.POSITIONAL_ONLY] * len(a.posonlyargs) + [P.POSITIONAL_OR_KEYWORD] * len(a.args)
    defaults = [P.empty] * (len(names) - len(a.defaults)) + [ast.literal_eval(d) for d in a.defaults]
    parameters = [P(name, kind, default=default) for name, kind, default in zip(names, kinds, defaults)][1:]
    if a.vararg:
        parameters.append(P(a.vararg.arg, P.VAR_POSITIONAL))
    for p, default in zip(a.kwonlyargs, a.kw_defaults):
        parameters.append(P(p.arg, P.KEYWORD_ONLY, default=P.empty if default is None else ast.literal_eval(default)))
    if a.kwarg:
        parameters.append(P(a.kwarg.arg, P.VAR_KEYWORD))
    return parameters


def shown(parameters: list[inspect.Parameter] | None) -> str:
    return "absent" if parameters is None else str(inspect.Signature(parameters))


def check_constructors_and_operators(stub_file: Path) -> None:
    classes = {c.name: c for c in ast.parse(stub_file.read_text()).body if isinstance(c, ast.ClassDef)}

    def members(name: str) -> dict[str, ast.FunctionDef]:
        found: dict[str, ast.FunctionDef] = {}
        for base in classes[name].bases:
            if isinstance(base, ast.Name) and base.id in classes:
                found.update(members(base.id))
        found.update({f.name: f for f in classes[name].body if isinstance(f, ast.FunctionDef)})
        return found

    runtime_classes = [n for n in quillex.__all__ if isinstance(getattr(quillex, n), type)]
    if len(runtime_classes) != 26:
        fail(f"the module has {len(runtime_classes)} classes, not 26")
    for name in runtime_classes:
        cls = getattr(quillex, name)
        if name not in classes:
            fail(f"class {name} is not in the stubs")
            continue
        own = members(name)
        try:
            runtime = list(inspect.signature(cls).parameters.values())
        except ValueError:  # no text signature: the class cannot be called
            runtime = None
        constructor = own.get("__new__")
        stub = stub_parameters(constructor) if constructor is not None else None
        if runtime is None:
            # The stub's constructor must have one positional-only parameter that no value fills.
            only = constructor.args.posonlyargs[1:] if constructor is not None and len(stub or []) == 1 else []
            annotations = [ast.unparse(p.annotation) for p in only if p.annotation is not None]
            if annotations != ["Never"]:
                fail(f"{name} cannot be called, but its stub constructor is not one that no argument fills")
            try:
                cls()
                fail(f"{name}() does not raise")
            except TypeError:
                pass
        elif stub != runtime:
            fail(f"{name}: stub constructor {shown(stub)}, run-time signature {shown(runtime)}")
        runtime_ops = {op for op in OPERATORS if op in vars(cls)}
        stub_ops = {op for op in OPERATORS if op in own}
        if runtime_ops != stub_ops:
            fail(f"{name}: operators {sorted(stub_ops)} in the stubs, {sorted(runtime_ops)} at run time")


def mypy_errors(output: str, cwd: str, files: list[Path]) -> dict[Path, list[tuple[int, str]]]:
    """Each file's errors as (line, code); any other output is a failure."""
    errors: dict[Path, list[tuple[int, str]]] = {f.resolve(): [] for f in files}
    for line in output.splitlines():
        if ": note: " in line or line.startswith("Success:") or line.startswith("Found "):
            continue
        m = ERROR_LINE.match(line)
        path = (Path(cwd) / m["path"]).resolve() if m else None
        if m is None or path not in errors:
            fail(f"unexpected mypy output: {line}")
            continue
        errors[path].append((int(m["line"]), m["code"]))
    return errors


def check_stubtest(scratch: str) -> None:
    result = run("-m", "mypy.stubtest", "quillex", cwd=scratch)
    if result.returncode != 0:
        fail(f"stubtest:\n{result.stdout}{result.stderr}")


def check_mypy(scratch: str, readme: Path, stub_file: Path) -> None:
    block = re.search(r"```python\n(.*?)```", readme.read_text(), re.S)
    if block is None:
        fail(f"no python example in {readme}")
        return
    example = Path(scratch, "readme_example.py")
    example.write_text(block[1])
    accepted = [example, HERE / "every_element.py"]
    cache = ["--cache-dir", str(Path(scratch, "cache"))]
    result = run("-m", "mypy", "--strict", *cache, *map(str, accepted + [REFUSED]), cwd=scratch)
    errors = mypy_errors(result.stdout + result.stderr, scratch, accepted + [REFUSED])
    for path in accepted:
        for line, code in errors[path.resolve()]:
            fail(f"mypy --strict refuses {path.name}:{line} [{code}]")
    expected = [(i, code) for i, code, _ in refused_lines()]
    if sorted(errors[REFUSED]) != expected:
        missing = sorted(set(expected) - set(errors[REFUSED]))
        extra = sorted(set(errors[REFUSED]) - set(expected))
        fail(f"{REFUSED.name}: errors expected but not drawn {missing}; drawn but not expected {extra}")
    # The stubs themselves, as a module of their own name: mypy reports no error inside an installed stub package.
    own = Path(scratch, "stubs", "quillex.pyi")
    own.parent.mkdir()
    own.write_text(stub_file.read_text())
    result = run("-m", "mypy", "--strict", *cache, str(own), cwd=scratch)
    for line, code in mypy_errors(result.stdout + result.stderr, scratch, [own])[own.resolve()]:
        fail(f"mypy --strict refuses the stubs at line {line} [{code}]")


def refused_lines() -> list[tuple[int, str, str]]:
    """The marked lines of type_errors.py as (line number, expected error code, text)."""
    lines = REFUSED.read_text().splitlines()
    return [(i, m["code"], text) for i, text in enumerate(lines, start=1) if (m := EXPECT.search(text))]


def check_run_time() -> None:
    try:
        runpy.run_path(str(HERE / "every_element.py"), run_name="__main__")
    except Exception:
        fail(f"every_element.py fails at run time:\n{traceback.format_exc()}")
    marked = refused_lines()
    prelude: dict[str, object] = {}
    exec(compile("\n".join(REFUSED.read_text().splitlines()[: marked[0][0] - 1]), str(REFUSED), "exec"), prelude)
    for i, _, text in marked:
        try:
            exec(compile(text, f"{REFUSED}:{i}", "exec"), dict(prelude))
        except (TypeError, ValueError):
            continue
        fail(f"{REFUSED.name}:{i} runs without error: the stubs refuse what the module accepts")


def main() -> None:
    readme = Path(sys.argv[1])
    stub_file = installed_stubs()
    if failures:
        sys.exit(1)
    with tempfile.TemporaryDirectory() as scratch:
        steps: list[tuple[str, Callable[[], None]]] = [
            ("stubtest finds the stubs consistent", lambda: check_stubtest(scratch)),
            ("constructors and operators as at run time", lambda: check_constructors_and_operators(stub_file)),
            ("mypy --strict accepts the stubs, the README's example and every_element.py, and draws each expected "
             "error of type_errors.py", lambda: check_mypy(scratch, readme, stub_file)),
            ("every_element.py runs, and each line of type_errors.py raises", check_run_time),
        ]
        for what, step in steps:
            before = len(failures)
            step()
            if len(failures) == before:
                print(f"ok: {what}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
