#!/usr/bin/env python3
"""Runs piglit's shader_test execution tests on the machine's GL driver in
three modes and compares them:

  driver  the test's GLSL compiled by the driver itself: the reference
  vrx     the shaders compiled by vrxCompile, the .vrx program run
  vrx-O   the same with every optimisation bit (-Oall,glsl)

A test counts for the score only where the driver mode passes it. Prints per
mode the passed, failed, unsupported and skipped tests, a table per GLSL
version, and every test where a vrx mode fails while the driver passes, with
its first failure (the first wrong pixel, or the compiler's first error).

  execution-tests.py [options] [PATH...]

PATH is a shader_test file or a folder of them, relative to piglit's folder
(the one holding tests/ and generated_tests/) or absolute. --list FILE takes
the paths from a file (one per line, or the first column of a results file).
--glsl 1.10,1.50 keeps the tests whose [require] asks for those GLSL versions.
--results FILE writes every verdict as a tab-separated file; --expect FILE
compares with such a file and fails on any test whose verdict in a mode went
from pass to anything else. The last line is "execution: N passed, N failed",
counting the vrx modes of the tests the score counts; with --expect, the
failures are the regressions (the recorded ones are counted as known).
"""

import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

MODES = ("driver", "vrx", "vrx-O")
# -O with every bit: the optimisation list's "all" leaves out "glsl".
OPTIMISE_ALL = "-Oall,glsl"
TIMEOUT_SECONDS = 120
VERDICTS = ("pass", "fail", "unsupported", "skip")


def read_requirements(path):
    """The GLSL version a test asks for ("1.10"), and its required extensions."""
    version = None
    extensions = []
    section = None
    with open(path, encoding="utf-8", errors="replace") as test:
        for line in test:
            text = line.strip()
            if text.startswith("[") and text.endswith("]"):
                section = text
                continue
            if section != "[require]" or not text or text.startswith("#"):
                continue
            match = re.match(r"GLSL\s*(>=|>)\s*(\d+\.\d+)", text)
            if match:
                version = match.group(2)
            elif re.match(r"GL_\w+$", text):
                extensions.append(text)
    return version, extensions


def collect_tests(piglit, paths, list_file):
    names = list(paths)
    if list_file:
        with open(list_file, encoding="utf-8") as listed:
            for line in listed:
                line = line.strip()
                if line and not line.startswith("#"):
                    names.append(line.split("\t")[0])
    tests = []
    for name in names:
        full = name if os.path.isabs(name) else os.path.join(piglit, name)
        if os.path.isdir(full):
            for folder, _, files in os.walk(full):
                tests += [os.path.join(folder, f) for f in files if f.endswith(".shader_test")]
        else:
            tests.append(full)
    return sorted(set(tests))


def relative_name(piglit, path):
    return os.path.relpath(path, piglit) if path.startswith(piglit + os.sep) else path


def run(command, env=None):
    try:
        done = subprocess.run(command, capture_output=True, text=True, errors="replace",
                              timeout=TIMEOUT_SECONDS, env=env)
        return done.returncode, done.stdout, done.stderr
    except subprocess.TimeoutExpired:
        return None, "", "timed out after %d s" % TIMEOUT_SECONDS


def first_error(log):
    for line in log.splitlines():
        if ": error: " in line:
            return line.split(": error: ", 1)[1]
    lines = [line for line in log.splitlines() if line.strip()]
    return lines[0] if lines else "no message"


def compile_program(tools, work, extensions, output, extra):
    """Compiles the prepared shaders; a verdict when it fails, else None."""
    command = [os.path.join(tools, "vrxCompile"), "-noquarn", "-o", output] + extra
    for option, name in (("-v", "vertex.glsl"), ("-g", "geometry.glsl"), ("-p", "pixel.glsl")):
        if os.path.exists(os.path.join(work, name)):
            command += [option, os.path.join(work, name)]
    env = dict(os.environ, VRXCOMPILE_CACHE="0")
    code, out, err = run(command, env)
    if code == 0:
        return None
    log = out + err
    for extension in extensions:
        if extension in log and "not supported" in log:
            return "skip: the compiler lacks %s" % extension
    if code is None:
        return "fail: compile timed out"
    return "fail: compile: " + first_error(log)


def run_test(tools, path):
    """Every mode's verdict for one test: {mode: "pass" | "fail: ..." | ...}."""
    runner = os.path.join(tools, "vrxGlRun")
    with tempfile.TemporaryDirectory(prefix="vrx-exec-") as work:
        code, out, err = run([runner, "--prepare", work, path])
        line = out.strip() or err.strip() or "fail: the runner printed nothing"
        if code is None or line.startswith("fail") or code not in (0, 3):
            return {mode: "fail: runner: " + line for mode in MODES}
        if line != "ready":
            return {mode: line for mode in MODES}
        _, extensions = read_requirements(path)
        verdicts = {}
        arguments = ["--driver"]
        for mode, extra in (("vrx", []), ("vrx-O", [OPTIMISE_ALL])):
            output = os.path.join(work, mode + ".vrx")
            failure = compile_program(tools, work, extensions, output, extra)
            if failure:
                verdicts[mode] = failure
            else:
                arguments += ["--vrx", output]
        code, out, err = run([runner, path] + arguments)
        labels = {"driver": "driver", os.path.join(work, "vrx.vrx"): "vrx",
                  os.path.join(work, "vrx-O.vrx"): "vrx-O"}
        for line in out.splitlines():
            label, _, verdict = line.partition(": ")
            if label in labels:
                verdicts[labels[label]] = verdict.replace(work + "/", "")
        if kind(verdicts.get("driver", "")) == "skip":
            # The driver lacks what the test requires: no mode ran it.
            return {mode: verdicts["driver"] for mode in MODES}
        for mode in MODES:
            if mode not in verdicts:
                reason = "timed out" if code is None else (err.strip().splitlines() or
                                                           ["exit code %s" % code])[-1]
                verdicts[mode] = "fail: runner: " + reason
        return verdicts


def kind(verdict):
    return verdict.split(":", 1)[0]


def counted(verdicts):
    """The score counts a test where the driver passes it."""
    return kind(verdicts["driver"]) == "pass"


def read_results(path):
    results = {}
    with open(path, encoding="utf-8") as table:
        for line in table:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            results[fields[0]] = dict(zip(MODES, fields[2:5]))
    return results


def write_results(path, results, versions):
    with open(path, "w", encoding="utf-8") as table:
        table.write("# test\tGLSL\t" + "\t".join(MODES) + "\n")
        for name in sorted(results):
            verdicts = results[name]
            table.write("\t".join([name, versions.get(name) or "-"] +
                                  [verdicts[mode] for mode in MODES]) + "\n")


def print_summary(results, versions):
    print("%-8s %8s %8s %12s %8s" % ("mode", "passed", "failed", "unsupported", "skipped"))
    for mode in MODES:
        counts = {verdict: 0 for verdict in VERDICTS}
        for verdicts in results.values():
            counts[kind(verdicts[mode])] = counts.get(kind(verdicts[mode]), 0) + 1
        print("%-8s %8d %8d %12d %8d" % (mode, counts["pass"], counts["fail"],
                                         counts["unsupported"], counts["skip"]))
    print()
    print("Tests the driver passes, per GLSL version (vrx modes skipped for a "
          "compiler's missing extension are left out):")
    print("%-6s %7s %12s %12s" % ("GLSL", "tests", "vrx", "vrx-O"))
    table = {}
    for name, verdicts in results.items():
        if not counted(verdicts):
            continue
        row = table.setdefault(versions.get(name) or "-", [0, 0, 0, 0, 0])
        for index, mode in enumerate(("vrx", "vrx-O")):
            if kind(verdicts[mode]) != "skip":
                row[2 * index] += 1
                row[2 * index + 1] += kind(verdicts[mode]) == "pass"
    totals = [0, 0, 0, 0]
    for version in sorted(table):
        row = table[version]
        totals = [a + b for a, b in zip(totals, row)]
        print("%-6s %7d %12s %12s" % (version, row[0], share(row[1], row[0]),
                                      share(row[3], row[2])))
    print("%-6s %7d %12s %12s" % ("all", totals[0], share(totals[1], totals[0]),
                                  share(totals[3], totals[2])))


def share(passed, total):
    return "%d (%.1f%%)" % (passed, 100.0 * passed / total) if total else "-"


def print_failures(results):
    for mode in ("vrx", "vrx-O"):
        failed = [(name, v[mode]) for name, v in sorted(results.items())
                  if counted(v) and kind(v[mode]) == "fail"]
        if failed:
            print()
            print("%s fails where the driver passes (%d):" % (mode, len(failed)))
            for name, verdict in failed:
                print("  %s: %s" % (name, verdict[len("fail: "):]))
    changed = [name for name, v in sorted(results.items())
               if kind(v["vrx"]) == "pass" and kind(v["vrx-O"]) == "fail"]
    if changed:
        print()
        print("optimisation changes the result (%d):" % len(changed))
        for name in changed:
            print("  %s: %s" % (name, results[name]["vrx-O"][len("fail: "):]))


def regressions(results, expected):
    """Tests whose verdict in a mode was pass and now is not."""
    found = []
    for name, before in sorted(expected.items()):
        now = results.get(name)
        for mode in MODES:
            if kind(before.get(mode, "")) == "pass" and (now is None or kind(now[mode]) != "pass"):
                found.append("%s [%s]: %s" % (name, mode, now[mode] if now else "not run"))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="*")
    parser.add_argument("--tools", default="build/bin", help="folder of vrxCompile and vrxGlRun")
    parser.add_argument("--piglit", help="piglit's folder (default: scripts/fetch-piglit.sh)")
    parser.add_argument("--list", help="file listing the tests")
    parser.add_argument("--glsl", help="comma-separated GLSL versions to keep, e.g. 1.10,4.50")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--results", help="write every verdict to this file")
    parser.add_argument("--expect", help="fail on tests that passed in this results file")
    options = parser.parse_args()

    piglit = options.piglit
    if not piglit:
        fetch = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fetch-piglit.sh")
        piglit = subprocess.run(["bash", fetch], check=True, capture_output=True,
                                text=True).stdout.strip()
    piglit = os.path.abspath(piglit)
    tools = os.path.abspath(options.tools)
    tests = collect_tests(piglit, options.paths, options.list)
    wanted = set(options.glsl.split(",")) if options.glsl else None
    versions = {}
    selected = []
    for path in tests:
        version, _ = read_requirements(path)
        if wanted is None or version in wanted:
            versions[relative_name(piglit, path)] = version
            selected.append(path)
    if not selected:
        print("execution-tests: no test selected", file=sys.stderr)
        return 2

    # llvmpipe renders with as many threads as there are cores; with several
    # tests at once each gets its share, so the machine is not oversubscribed.
    jobs = max(1, options.jobs)
    os.environ["LP_NUM_THREADS"] = str(max(1, (os.cpu_count() or 1) // jobs))
    os.environ.setdefault("EGL_PLATFORM", "surfaceless")
    results = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(run_test, tools, path): path for path in selected}
        for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
            results[relative_name(piglit, futures[future])] = future.result()
            if done % 100 == 0:
                print("execution-tests: %d of %d tests" % (done, len(selected)),
                      file=sys.stderr, flush=True)

    if options.results:
        write_results(options.results, results, versions)
    print_summary(results, versions)
    print_failures(results)
    passed = failed = 0
    for verdicts in results.values():
        if counted(verdicts):
            for mode in ("vrx", "vrx-O"):
                passed += kind(verdicts[mode]) == "pass"
                failed += kind(verdicts[mode]) == "fail"
    status = 0
    if options.expect:
        found = regressions(results, read_results(options.expect))
        print()
        print("vrx-mode failures: %d; regressions against %s: %d"
              % (failed, options.expect, len(found)))
        if found:
            print("regressions against %s (%d):" % (options.expect, len(found)))
            for line in found:
                print("  " + line)
            status = 1
        # Against a record, only a regression is a failure.
        failed = len(found)
    print()
    print("execution: %d passed, %d failed" % (passed, failed))
    return status


if __name__ == "__main__":
    sys.exit(main())
