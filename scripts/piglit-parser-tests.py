#!/usr/bin/env python3
"""Runs piglit's GLSL parser tests through vrxCompile and glslangValidator.

The set: every single-stage file (.vert, .frag, .geom, .comp) under piglit's
tests/ and generated_tests/ whose [config] block, in the comment at its top,
says `expect_result: pass` or `fail`, names no `require_extensions` and does
not ask for `check_link: true`. ESSL files (`glsl_version` 1.00, 3.00, 3.10,
3.20, or anything ending in "es") are compiled with `-t essl`.

Each file is compiled on its own: a lone pixel or geometry stage is linked as
a one-stage program, so link errors (a missing `main`, a geometry stage's
missing layouts) say nothing about the file; a failure whose every error is
such a link error counts as compiled, as piglit's own runner only compiles.

The set is fixed by docs/piglit-parser-tests.txt: one line per file with the
verdict piglit expects, the verdict of the front end before our patches
(`baseline`, written once when the list is made) and of the last build the
list was written from (`current`), and whether CI runs the file. `measure
--check` fails on any file whose verdict regressed against `current`, and on
any file piglit expects to fail that `baseline` rejected and that is now
accepted.

Verdicts are kept per tool (keyed by the bytes of its executable and
libraries) in the results folder, one line per file as it finishes, so an
interrupted run goes on where it stopped and a second run of the same build
costs nothing.
"""

import argparse
import concurrent.futures
import hashlib
import math
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIST_PATH = os.path.join(ROOT, "docs", "piglit-parser-tests.txt")
DEFAULT_RESULTS = os.path.join(ROOT, "build-piglit")

# Bumped whenever the way a verdict is read from a tool's output changes, so
# that results kept from before are not used.
VERDICT_RULES = "1"

STAGE_OPTIONS = {"vert": "-v", "frag": "-p", "geom": "-g", "comp": "-c"}
CI_FILES = 500
# When more files than that changed verdict, CI still runs this many others.
CI_MINIMUM_SAMPLE = 150
COMPILE_TIMEOUT_SECONDS = 120
DEFAULT_MEMORY_LIMIT_GIB = 8

LIST_HEADER = """\
# piglit's GLSL parser tests run by scripts/piglit-parser-tests.py, one file
# a line, sorted; written by `scripts/piglit-parser-tests.py measure --write-list`.
# Columns (tab-separated): path under piglit's folder, stage, language,
# expected (piglit's expect_result), baseline (verdict of the front end before
# our patches, kept when the list is rewritten), current (verdict of the build
# the list was last written from), ci (run by the CI check, or -).
"""


def fail(message):
    print(f"piglit-parser-tests: error: {message}", file=sys.stderr)
    sys.exit(2)


# ---------------------------------------------------------------------------
# The set


@dataclass
class TestFile:
    path: str  # relative to piglit's folder
    stage: str  # vert, frag, geom, comp
    language: str  # glsl or essl
    expected: str  # pass or fail
    baseline: str = "-"
    current: str = "-"
    ci: str = "-"


CONFIG_START = re.compile(r"(//|/\*|\*)\s*\[config\]")
CONFIG_LINE = re.compile(r"(?P<key>[a-z0-9_]+):\s*(?P<value>.*)")
COMMENT_LEAD = re.compile(r"^(//|/\*|\*)\s*")


def read_config(path):
    """The key/value pairs of a file's [config] block, or None without one.

    Follows piglit's own reading: the block starts at the first line that is
    a comment holding "[config]" and ends at "[end config]"."""
    with open(path, encoding="utf-8", errors="replace") as file:
        lines = (line.strip() for line in file)
        for line in lines:
            if CONFIG_START.match(line):
                break
        else:
            return None
        config = {}
        for line in lines:
            line = COMMENT_LEAD.sub("", line)
            if line.startswith("[end config]"):
                break
            match = CONFIG_LINE.match(line)
            if match:
                config[match["key"]] = match["value"].strip()
        return config


def is_essl(version):
    if version.endswith("es"):
        return True
    try:
        return float(version) in (1.0, 3.0, 3.1, 3.2)
    except ValueError:
        return False


def select_files(piglit):
    files = []
    for top in ("tests", "generated_tests"):
        for folder, _, names in os.walk(os.path.join(piglit, top)):
            for name in names:
                stage = name.rsplit(".", 1)[-1]
                if stage not in STAGE_OPTIONS:
                    continue
                path = os.path.join(folder, name)
                config = read_config(path)
                if config is None or config.get("expect_result") not in ("pass", "fail"):
                    continue
                if config.get("require_extensions"):
                    continue
                if config.get("check_link", "false").lower() == "true":
                    continue
                language = "essl" if is_essl(config.get("glsl_version", "")) else "glsl"
                relative = os.path.relpath(path, piglit)
                files.append(TestFile(relative, stage, language, config["expect_result"]))
    files.sort(key=lambda test: test.path.encode())
    return files


def read_list(path):
    files = []
    with open(path, encoding="utf-8") as file:
        for number, line in enumerate(file, 1):
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 7:
                fail(f"{path}:{number}: expected 7 tab-separated fields")
            files.append(TestFile(*fields))
    return files


def write_list(path, files):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as file:
        file.write(LIST_HEADER)
        for test in files:
            fields = (test.path, test.stage, test.language, test.expected, test.baseline,
                      test.current, test.ci)
            file.write("\t".join(fields) + "\n")
    os.replace(temporary, path)


# ---------------------------------------------------------------------------
# Tools and verdicts


@dataclass
class Tool:
    kind: str  # vrx or validator
    path: str  # vrx: the folder of vrxCompile; validator: the executable
    label: str
    key: str = ""


def parse_tool(spec):
    kind, _, path = spec.partition(":")
    if kind not in ("vrx", "validator") or not path:
        fail(f"'{spec}' is not a tool: give vrx:<folder of vrxCompile> or validator:<executable>")
    if kind == "validator" and os.sep not in path:
        found = shutil.which(path)
        if found is None:
            fail(f"{path} not found on PATH")
        path = found
    path = os.path.abspath(path)
    tool = Tool(kind, path, spec)
    if kind == "vrx":
        names = ("vrxCompile", "libmendrix.so", "libtmb.so")
        files = [os.path.join(path, name) for name in names]
        tool.label = f"vrxCompile ({path})"
    else:
        files = [path]
        version = subprocess.run([path, "--version"], capture_output=True, text=True).stdout
        found = re.search(r"Glslang Version: \S*?(\d+\.\d+\.\d+)", version)
        tool.label = f"glslangValidator {found[1] if found else '?'} ({path})"
    digest = hashlib.sha256(VERDICT_RULES.encode())
    for name in files:
        if not os.path.isfile(name):
            fail(f"{name} not found")
        with open(name, "rb") as file:
            digest.update(hashlib.sha256(file.read()).digest())
    tool.key = f"{kind}-{digest.hexdigest()[:24]}"
    return tool


ERROR_LINE = re.compile(r"^(?P<place>.*?):(?P<line>\d+): error: (?P<message>.*)$")
VALIDATOR_ERROR = re.compile(r"^ERROR: (?P<message>.*)$")
VALIDATOR_EXIT_COMPILE_FAILED = 2
VALIDATOR_EXIT_LINK_FAILED = 3
VRX_EXIT_COMPILE_FAILED = 6


def first_error(messages):
    """The first error that is not a one-stage program's link error, or ""."""
    for message in messages:
        if not message.startswith("Linking "):
            return message
    return ""


def run_tool(tool, test, piglit, scratch):
    """(verdict, first error) for one file: accept, reject, crash or timeout."""
    source = os.path.join(piglit, test.path)
    if tool.kind == "vrx":
        # No two workers compile the same file at once.
        output = os.path.join(scratch, hashlib.sha1(test.path.encode()).hexdigest() + ".vrx")
        command = [os.path.join(tool.path, "vrxCompile"), STAGE_OPTIONS[test.stage], source,
                   "-o", output, "-noquarn"]
        if test.language == "essl":
            command += ["-t", "essl"]
    else:
        command = [tool.path, source]
        if test.language == "glsl":
            command.insert(1, "-d")  # no #version means 110, not ESSL 100
    environment = dict(os.environ, VRXCOMPILE_CACHE="0", LC_ALL="C")
    try:
        done = subprocess.run(command, capture_output=True, env=environment, cwd=scratch,
                              timeout=COMPILE_TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        return "timeout", f"no verdict after {COMPILE_TIMEOUT_SECONDS} s"
    finally:
        if tool.kind == "vrx" and os.path.exists(output):
            os.remove(output)
    text = (done.stdout + done.stderr).decode("utf-8", errors="replace")
    if tool.kind == "vrx":
        messages = [m["message"] for m in map(ERROR_LINE.match, text.splitlines()) if m]
        compile_failed = done.returncode == VRX_EXIT_COMPILE_FAILED
    else:
        messages = [m["message"] for m in map(VALIDATOR_ERROR.match, text.splitlines()) if m]
        compile_failed = done.returncode == VALIDATOR_EXIT_COMPILE_FAILED
        if done.returncode == VALIDATOR_EXIT_LINK_FAILED:
            return "accept", ""
    if done.returncode == 0:
        return "accept", ""
    if not compile_failed:
        return "crash", f"exit code {done.returncode}: {squeeze(text)}"
    error = first_error(messages)
    if not error and messages:
        return "accept", ""
    return "reject", error or squeeze(text)


def squeeze(text):
    return " ".join(text.split())[:300]


class ResultStore:
    """The verdicts of one tool, one line per file, appended as they come."""

    def __init__(self, folder, tool):
        os.makedirs(folder, exist_ok=True)
        self.path = os.path.join(folder, tool.key + ".tsv")
        self.results = {}
        if os.path.exists(self.path):
            with open(self.path, "rb") as file:
                data = file.read()
            # A run killed while writing leaves a part line at the end.
            complete = data[: data.rfind(b"\n") + 1]
            if len(complete) != len(data):
                with open(self.path, "wb") as file:
                    file.write(complete)
            for line in complete.decode("utf-8").splitlines():
                fields = line.split("\t")
                if len(fields) == 3:
                    self.results[fields[0]] = (fields[1], fields[2])
        self.file = open(self.path, "a", encoding="utf-8")

    def add(self, path, verdict, error):
        error = error.replace("\t", " ").replace("\n", " ")
        self.results[path] = (verdict, error)
        # A timeout may be the load of the moment: the next run tries again.
        if verdict != "timeout":
            self.file.write(f"{path}\t{verdict}\t{error}\n")
            self.file.flush()

    def close(self):
        self.file.close()


def measure(tool, files, piglit, results_folder, jobs):
    store = ResultStore(results_folder, tool)
    missing = [test for test in files if test.path not in store.results]
    if missing:
        print(f"{tool.label}: {len(missing)} of {len(files)} files to compile", file=sys.stderr)
    try:
        with tempfile.TemporaryDirectory(prefix="piglit-parser-") as scratch:
            with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
                futures = {pool.submit(run_tool, tool, test, piglit, scratch): test
                           for test in missing}
                for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
                    test = futures[future]
                    store.add(test.path, *future.result())
                    if done % 500 == 0:
                        print(f"  {done} / {len(missing)}", file=sys.stderr)
    finally:
        store.close()
    return {test.path: store.results[test.path] for test in files}


# ---------------------------------------------------------------------------
# Reports


def agrees(expected, verdict):
    return (expected, verdict) in (("pass", "accept"), ("fail", "reject"))


def summary(files, verdicts):
    valid_rejected = sum(1 for t in files if t.expected == "pass" and verdicts[t.path][0] != "accept")
    invalid_accepted = sum(1 for t in files if t.expected == "fail" and verdicts[t.path][0] == "accept")
    faults = sum(1 for t in files if verdicts[t.path][0] in ("crash", "timeout"))
    agreeing = sum(1 for t in files if agrees(t.expected, verdicts[t.path][0]))
    share = 100.0 * agreeing / len(files) if files else 0.0
    return (f"{share:5.1f}% agree ({agreeing} of {len(files)}), {valid_rejected} valid rejected, "
            f"{invalid_accepted} invalid accepted, {faults} crashed or timed out")


def check(files, verdicts):
    """Lines naming every regressed file; empty when none did."""
    problems = []
    for test in files:
        verdict, error = verdicts[test.path]
        if verdict in ("crash", "timeout"):
            problems.append(f"{test.path}: {verdict}: {error}")
        elif (test.expected == "fail" and test.baseline == "reject" and verdict == "accept"):
            problems.append(f"{test.path}: piglit expects a failure and the front end before our "
                            f"patches rejects it, but this build accepts it")
        elif agrees(test.expected, test.current) and not agrees(test.expected, verdict):
            why = f": {error}" if error else ""
            problems.append(f"{test.path}: piglit expects {test.expected}, the list says "
                            f"{test.current}, this build gives {verdict}{why}")
    return problems


def choose_ci(files):
    """Marks the CI files: every file whose verdict our patches changed, and
    a fixed sample of the others that agree with piglit, spread over folders
    and expected verdicts (in proportion to the square root of each group's
    size, so that the thousands of generated files do not crowd out the
    hand-written ones) and taken in the order of their paths' hashes, so
    that the choice is stable."""
    changed = [t for t in files if t.baseline != t.current]
    others = [t for t in files if t.baseline == t.current and agrees(t.expected, t.current)]
    wanted = max(CI_FILES - len(changed), CI_MINIMUM_SAMPLE)
    strata = {}
    for test in others:
        folder = "/".join(test.path.split("/")[:3])
        strata.setdefault((folder, test.expected), []).append(test)
    # Seats go one by one to the group with the most weight per seat it
    # holds (a highest-averages share), never beyond the group's size.
    weights = {key: math.sqrt(len(members)) for key, members in strata.items()}
    counts = {key: 0 for key in strata}
    for _ in range(min(wanted, len(others))):
        open_groups = [key for key in strata if counts[key] < len(strata[key])]
        best = max(open_groups, key=lambda key: (weights[key] / (counts[key] + 1), key))
        counts[best] += 1
    chosen = {t.path for t in changed}
    for key, members in strata.items():
        members.sort(key=lambda t: hashlib.sha1(t.path.encode()).hexdigest())
        chosen.update(t.path for t in members[: counts[key]])
    for test in files:
        test.ci = "ci" if test.path in chosen else "-"


def classify(files, verdicts):
    """Groups the valid files a tool rejects by their first error, with
    numbers (lines, sizes, versions) folded so that one cause is one group."""
    groups = {}
    for test in files:
        verdict, error = verdicts[test.path]
        if test.expected != "pass" or verdict == "accept":
            continue
        cause = re.sub(r"\d+", "N", error)
        groups.setdefault(cause, []).append(test.path)
    for cause, paths in sorted(groups.items(), key=lambda item: (-len(item[1]), item[0])):
        print(f"{len(paths):5d}  {cause}")
        for path in paths[:3]:
            print(f"         {path}")


# ---------------------------------------------------------------------------
# Commands


def find_piglit(arguments):
    if arguments.piglit:
        return arguments.piglit
    fetch = os.path.join(ROOT, "scripts", "fetch-piglit.sh")
    done = subprocess.run(["bash", fetch], stdout=subprocess.PIPE, text=True)
    if done.returncode != 0:
        fail("piglit's tests could not be fetched (scripts/fetch-piglit.sh)")
    return done.stdout.strip()


def load_set(piglit, arguments):
    if os.path.exists(LIST_PATH):
        files = read_list(LIST_PATH)
    else:
        files = select_files(piglit)
    if arguments.set == "ci":
        files = [t for t in files if t.ci == "ci"]
    if not files:
        fail("no files to run")
    return files


def command_measure(arguments):
    piglit = find_piglit(arguments)
    tools = [parse_tool(spec) for spec in arguments.tools] or [
        parse_tool(f"vrx:{os.path.join(ROOT, 'build', 'bin')}")
    ]
    if not arguments.no_validator and not arguments.tools:
        if shutil.which("glslangValidator"):
            tools.append(parse_tool("validator:glslangValidator"))
    files = load_set(piglit, arguments)
    measured = [(tool, measure(tool, files, piglit, arguments.results, arguments.jobs))
                for tool in tools]
    for tool, verdicts in measured:
        print(f"{tool.label}: {summary(files, verdicts)}")
    first, verdicts = measured[0]
    if arguments.classify:
        classify(files, verdicts)
    status = 0
    if arguments.check:
        problems = check(files, verdicts)
        for line in problems:
            print(f"regression: {line}")
        improved = [t.path for t in files
                    if not agrees(t.expected, t.current) and agrees(t.expected, verdicts[t.path][0])]
        for path in improved:
            print(f"improved (rewrite the list with --write-list): {path}")
        print(f"{len(problems)} regression(s) in {len(files)} files")
        status = 1 if problems else 0
    if arguments.write_list:
        if first.kind != "vrx" or arguments.set != "all":
            fail("--write-list needs vrxCompile as the first tool and the whole set")
        if any(verdicts[t.path][0] == "timeout" for t in files):
            fail("a compile timed out: run again before writing the list")
        fresh = not os.path.exists(LIST_PATH)
        for test in files:
            test.current = verdicts[test.path][0]
            if fresh:
                test.baseline = test.current
        choose_ci(files)
        write_list(LIST_PATH, files)
        print(f"wrote {os.path.relpath(LIST_PATH, ROOT)} "
              f"({sum(1 for t in files if t.ci == 'ci')} CI files)")
    return status


def command_diff(arguments):
    piglit = find_piglit(arguments)
    before, after = parse_tool(arguments.before), parse_tool(arguments.after)
    files = load_set(piglit, arguments)
    old = measure(before, files, piglit, arguments.results, arguments.jobs)
    new = measure(after, files, piglit, arguments.results, arguments.jobs)
    print(f"before: {before.label}: {summary(files, old)}")
    print(f"after:  {after.label}: {summary(files, new)}")
    changed = [t for t in files if old[t.path][0] != new[t.path][0]]
    lenient = 0
    for test in changed:
        mark = "better" if agrees(test.expected, new[test.path][0]) else "worse"
        if test.expected == "fail" and new[test.path][0] == "accept":
            lenient += 1
            mark = "worse, accepts an invalid file"
        print(f"{test.path}\texpected {test.expected}\t{old[test.path][0]} -> "
              f"{new[test.path][0]}\t{mark}")
    print(f"{len(changed)} file(s) changed verdict; {lenient} file(s) piglit expects to fail "
          f"became accepted")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--piglit", help="piglit's folder (default: scripts/fetch-piglit.sh)")
    parser.add_argument("--results", default=DEFAULT_RESULTS,
                        help="folder of the kept verdicts (default: build-piglit/)")
    parser.add_argument("--jobs", type=int, default=2, help="files compiled at once (default 2)")
    parser.add_argument("--memory-limit", type=int, default=DEFAULT_MEMORY_LIMIT_GIB,
                        metavar="GIB", help="address space of each compile in GiB (default "
                        f"{DEFAULT_MEMORY_LIMIT_GIB}; 0: none, as AddressSanitizer needs)")
    parser.add_argument("--set", choices=("all", "ci"), default="all",
                        help="every file of the list, or the CI files only")
    commands = parser.add_subparsers(dest="command", required=True)

    run = commands.add_parser("measure", help="verdicts and totals of one or more tools")
    run.add_argument("tools", nargs="*", metavar="TOOL",
                     help="vrx:<folder of vrxCompile> or validator:<glslangValidator>; default "
                          "vrx:build/bin and the host's glslangValidator")
    run.add_argument("--no-validator", action="store_true",
                     help="without the host's glslangValidator beside the default tool")
    run.add_argument("--check", action="store_true",
                     help="fail on any file whose verdict regressed against the list")
    run.add_argument("--write-list", action="store_true",
                     help="write the first tool's verdicts and the CI choice into the list")
    run.add_argument("--classify", action="store_true",
                     help="group the valid files the first tool rejects by their first error")
    run.set_defaults(handler=command_measure)

    diff = commands.add_parser("diff", help="files whose verdict differs between two tools")
    diff.add_argument("before", metavar="TOOL")
    diff.add_argument("after", metavar="TOOL")
    diff.set_defaults(handler=command_diff)

    arguments = parser.parse_args()
    if arguments.jobs < 1:
        fail("--jobs must be at least 1")
    if arguments.memory_limit > 0:
        # Inherited by every compile: a front end that runs away fails
        # that file instead of the machine.
        limit = arguments.memory_limit << 30
        _, hard = resource.getrlimit(resource.RLIMIT_AS)
        if hard != resource.RLIM_INFINITY:
            limit = min(limit, hard)
        resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
    return arguments.handler(arguments)


if __name__ == "__main__":
    sys.exit(main())
