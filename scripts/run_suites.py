#!/usr/bin/env python3
"""Runs every test suite of the checkout and prints one closing line "N passed, N failed".

Suites:
  * gtest programs: natively under the sanitizers, and the Windows builds under Wine;
  * script suites tests/scripts/*.sh, which print "PASS: name" / "FAIL: name" lines;
  * the fuzz targets, for a short bounded time over their seed corpus.
The Wine prefix, virtual display and audio server come from scripts/testenv.sh and are
stopped again, by PID, however the run ends.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESULTS = os.path.join(ROOT, "build", "results")

passed = 0
failed = 0
failures = []


def record(name, ok_count, fail_count, failed_names=()):
    global passed, failed
    passed += ok_count
    failed += fail_count
    failures.extend(failed_names)
    print(f"  {name}: {ok_count} passed, {fail_count} failed", flush=True)


def run_gtest(name, command, env, timeout=900):
    os.makedirs(RESULTS, exist_ok=True)
    out_json = os.path.join("build", "results", name.replace("/", "_") + ".json")
    full = os.path.join(ROOT, out_json)
    if os.path.exists(full):
        os.remove(full)
    log_path = os.path.join(RESULTS, name.replace("/", "_") + ".log")
    start = time.time()
    try:
        with open(log_path, "w") as log:
            proc = subprocess.run(command + ["--gtest_output=json:" + out_json], cwd=ROOT,
                                  env=env, stdout=log, stderr=subprocess.STDOUT, timeout=timeout)
        code = proc.returncode
    except subprocess.TimeoutExpired:
        code = "timeout"
    elapsed = time.time() - start
    if not os.path.exists(full):
        print(f"  {name}: no results (exit {code}); log {log_path}")
        sys.stdout.write(tail(log_path))
        record(name, 0, 1, [name + " (crashed or did not start)"])
        return
    with open(full) as f:
        data = json.load(f)
    ok, bad, names = 0, 0, []
    for suite in data.get("testsuites", []):
        for case in suite.get("testsuite", []):
            if case.get("result") == "SKIPPED" or case.get("status") == "NOTRUN":
                continue
            if case.get("failures"):
                bad += 1
                names.append(f"{name}: {suite['name']}.{case['name']}")
            else:
                ok += 1
    if code not in (0, 1):
        bad += 1
        names.append(f"{name}: exited with {code}")
    if bad:
        sys.stdout.write(tail(log_path, 60))
    record(f"{name} ({elapsed:.1f} s)", ok, bad, names)


def run_script_suite(path, env, timeout=1200):
    name = os.path.relpath(path, ROOT)
    log_path = os.path.join(RESULTS, os.path.basename(path) + ".log")
    start = time.time()
    try:
        proc = subprocess.run(["bash", path], cwd=ROOT, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=timeout, text=True,
                              errors="replace")
        output, code = proc.stdout, proc.returncode
    except subprocess.TimeoutExpired as e:
        output = (e.stdout or b"").decode("utf-8", "replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        code = "timeout"
    with open(log_path, "w") as log:
        log.write(output)
    ok = len(re.findall(r"^PASS: ", output, re.M))
    bad_names = re.findall(r"^FAIL: (.*)$", output, re.M)
    for line in output.splitlines():
        if line.startswith("FAIL: ") or line.startswith("  "):
            print("    " + line)
    if code != 0 and not bad_names:
        bad_names.append(f"exited with {code}")
    record(f"{name} ({time.time() - start:.1f} s)", ok, len(bad_names),
           [f"{name}: {n}" for n in bad_names])


FUZZ_SECONDS = 20


def run_fuzz_targets(env):
    """Runs every libFuzzer target tests/fuzz/NAME_fuzz.cpp for a bounded time over its seed
    corpus tests/fuzz/NAME_corpus; each target counts as one passed or one failed."""
    fuzz_sources = os.path.join(ROOT, "tests", "fuzz")
    if not os.path.isdir(fuzz_sources):
        return
    names = sorted(f[:-len(".cpp")] for f in os.listdir(fuzz_sources) if f.endswith("_fuzz.cpp"))
    for name in names:
        label = f"fuzz/{name}"
        exe = os.path.join(ROOT, "build", "fuzz", "fuzz", name)
        if not os.path.exists(exe):
            record(label, 0, 1, [f"{label}: not built"])
            continue
        seeds = os.path.join(fuzz_sources, name[:-len("_fuzz")] + "_corpus")
        # New inputs go to a scratch corpus; the committed seeds are only read.
        work = os.path.join(ROOT, "build", "fuzz-work", name)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        os.makedirs(RESULTS, exist_ok=True)
        log_path = os.path.join(RESULTS, name + ".log")
        command = [exe, f"-max_total_time={FUZZ_SECONDS}", "-timeout=10", "-max_len=8192",
                   "-print_final_stats=1", "-artifact_prefix=" + os.path.join(RESULTS, name + "-"),
                   work, seeds]
        start = time.time()
        try:
            with open(log_path, "w") as log:
                code = subprocess.run(command, cwd=ROOT, env=env, stdout=log,
                                      stderr=subprocess.STDOUT, timeout=FUZZ_SECONDS + 120).returncode
        except subprocess.TimeoutExpired:
            code = "timeout"
        with open(log_path, errors="replace") as log:
            runs = re.findall(r"stat::number_of_executed_units:\s*(\d+)", log.read())
        summary = f"{label} ({time.time() - start:.1f} s, {runs[-1] if runs else '?'} runs)"
        if code == 0:
            record(summary, 1, 0)
        else:
            sys.stdout.write(tail(log_path, 40))
            record(summary, 0, 1, [f"{label}: exited with {code}; log {log_path}"])


def tail(path, lines=30):
    try:
        with open(path, errors="replace") as f:
            content = f.readlines()
        return "".join("    | " + l for l in content[-lines:])
    except OSError:
        return ""


def start_testenv():
    """Starts the private display, audio server and Wine prefix; returns their environment."""
    script = f"source '{ROOT}/scripts/testenv.sh' && testenv_start >&2 && env -0"
    proc = subprocess.run(["bash", "-c", script], cwd=ROOT, stdout=subprocess.PIPE,
                          timeout=300)
    env = {}
    for item in proc.stdout.split(b"\0"):
        if b"=" in item:
            k, v = item.split(b"=", 1)
            env[k.decode()] = v.decode(errors="replace")
    return env


def stop_testenv(env):
    subprocess.run(["bash", "-c", f"source '{ROOT}/scripts/testenv.sh' && testenv_stop"],
                   cwd=ROOT, env=env, timeout=60)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-failed", type=int, default=0)
    args = parser.parse_args()

    if args.build_failed:
        record("build", 0, 1, ["a build failed"])

    native = os.path.join(ROOT, "build", "native-asan", "tests", "kawauso-tests")
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = "detect_leaks=1:abort_on_error=0"
    env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
    print("native (AddressSanitizer + UBSan):", flush=True)
    if os.path.exists(native):
        run_gtest("native/kawauso-tests", [native], env)
    else:
        record("native/kawauso-tests", 0, 1, ["native tests not built"])

    print("fuzz targets (libFuzzer, AddressSanitizer + UBSan):", flush=True)
    run_fuzz_targets(env)

    print("Windows builds under Wine, script suites:", flush=True)
    wenv = start_testenv()
    try:
        for arch in ("win32", "win64"):
            for prog in ("kawauso-tests", "kawauso-wintests", "kawauso-apptests"):
                exe = os.path.join("build", arch, "tests", prog + ".exe")
                if os.path.exists(os.path.join(ROOT, exe)):
                    run_gtest(f"{arch}/{prog}", ["wine", exe], wenv)
                else:
                    record(f"{arch}/{prog}", 0, 1, [f"{exe} not built"])
        scripts_dir = os.path.join(ROOT, "tests", "scripts")
        for name in sorted(os.listdir(scripts_dir)):
            if name.endswith("_test.sh"):
                run_script_suite(os.path.join(scripts_dir, name), wenv)
    finally:
        stop_testenv(wenv)

    if failures:
        print("failed:")
        for f in failures:
            print("  " + f)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
