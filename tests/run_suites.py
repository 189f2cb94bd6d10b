#!/usr/bin/env python3
"""Runs the suites of the checkout and prints one closing line "N passed, N failed".

  tests/run_suites.py [--build-failed N] [SUITE...]

Suites: native (the core tests under ASan and UBSan), fuzz, win32 and win64 (the core and the
Windows tests under Wine), and each tests/scripts/NAME_test.sh by NAME (script suites print
"PASS: name" / "FAIL: name" lines). Without names, all of them, and the share of test code
is checked. The Wine prefix, display and audio server of scripts/testenv.sh are started for
the suites that need them and stopped again, by PID, however the run ends. The suites under
Wine run in three lanes side by side, each with an environment of its own (they mostly wait on
real time: devices, timers, recordings), so a full run takes about a third as long; the suites that
need no Wine run beside them.

A case that fails is run once more (RUN_AGAIN_AT_MOST); one that passes only then is named at the
end, with the processor time the machine lost to its host meanwhile.

Where no 32-bit process can run (scripts/testenv.sh), what needs one is skipped and counted, and
the heaviest end-to-end suites run after the lanes, alone.
"""
import json, os, re, shutil, subprocess, sys, threading, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESULTS = os.path.join(ROOT, "build", "results")
FUZZ_SECONDS = 15
TEST_SHARE_LIMIT = "0.40"
# Each lane's environment: its own Wine prefix, display and sound server.
LANE_ROOTS = tuple(os.path.join(ROOT, "build", name) for name in ("testenv", "testenv-b", "testenv-c"))
NO_32BIT = "needs a 32-bit process, which this machine cannot run"
counts = {"passed": 0, "failed": 0, "skipped": 0}
failures, skips, passed_again = [], [], []
failure_details = []  # what the failed cases' checks said, printed again at the end
report = threading.Lock()  # one suite's lines at a time


def record(name, started, ok, bad, lines="", skipped=(), again=(), stolen=0.0):
    """A suite's counts; again: the cases that failed, then passed when run again, while the
    machine lost stolen seconds of processor to its host in the first run."""
    with report:
        counts["passed"] += ok
        counts["failed"] += len(bad)
        counts["skipped"] += len(skipped)
        failures.extend(f"{name}: {n}" for n in bad)
        skips.extend(f"{name}: {n}" for n in skipped)
        passed_again.extend(f"{name}: {n} (the first run lost {stolen:.0f} s to the host)" for n in again)
        print(lines, end="")
        print(f"  {name} ({time.time() - started:.1f} s): {ok} passed, {len(bad)} failed" +
              (f", {len(again)} passed only when run again" if again else "") +
              (f", {len(skipped)} skipped" if skipped else ""), flush=True)


def log_tail(path, lines=40):
    return "".join("    | " + l for l in open(path, errors="replace").readlines()[-lines:])


def run(command, env, log, timeout=900):
    """The command's exit code ("timeout" after timeout seconds), its output in log."""
    with open(log, "w") as out:
        try:
            return subprocess.run(command, cwd=ROOT, env=env, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return "timeout"


# The Windows tier's last line before it terminates itself: a signal after it is Wine's
# teardown faulting (seen about one run in five), not a case's, whose results are written by then.
ENDING_LINE = "kawauso-wintests: every case has run; ending the process"


def ended_in_termination(code, log):
    if not isinstance(code, int) or code >= 0:
        return False
    lines = [l.strip() for l in open(log, errors="replace").readlines() if l.strip()]
    if lines and lines[-1] == ENDING_LINE:
        with report:
            print(f"    (a signal, {code}, in the process's own termination after every case had run)")
        return True
    return False


def failure_texts(cases, again=(), lines=12):
    """What each failed case's checks said: a log's tail often ends before it, and CI shows
    only the tail of the summary."""
    said = ""
    for suite, case in cases:
        name = f"{suite}.{case['name']}"
        for failure in case.get("failures", []):
            text = failure.get("failure", "").splitlines()[:lines]
            said += f"    {name}{' (passed when run again)' if name in again else ''}:\n" + \
                "".join("    > " + l + "\n" for l in text)
    return said


# A case that fails is run once more, alone in its program or with its suite, when no more than
# this many failed: this kind of machine loses its cores to the host for seconds now and then
# ("steal" in /proc/stat), and a recording or a block count made meanwhile breaks whatever the
# program does. A fault fails both runs; a case that passes only the second time is named at the
# end with the seconds the machine lost while it first ran. More failures than this are no stall.
RUN_AGAIN_AT_MOST = 3


def steal_seconds():
    fields = open("/proc/stat").readline().split()
    return int(fields[8]) / os.sysconf("SC_CLK_TCK") if len(fields) > 8 else 0.0


def gtest_once(command, env, out):
    """One run of a test program: its results' cases (with their suites) and exit code, or None
    when it wrote no results."""
    if os.path.exists(out + ".json"):
        os.remove(out + ".json")
    code = run(command + ["--gtest_output=json:" + os.path.relpath(out + ".json", ROOT)], env, out + ".log")
    if not os.path.exists(out + ".json"):
        return None, code
    return [(s["name"], c) for s in json.load(open(out + ".json")).get("testsuites", [])
            for c in s.get("testsuite", [])], code


def run_gtest(name, command, env):
    started, out = time.time(), os.path.join(RESULTS, name.replace("/", "_"))
    program = command[1] if command[0] == "wine" else command[0]
    if not os.path.exists(os.path.join(ROOT, program)):
        return record(name, started, 0, ["not built"])
    stolen = steal_seconds()
    every, code = gtest_once(command, env, out)
    if every is None:
        return record(name, started, 0, [f"no results (exit {code})"], log_tail(out + ".log"))
    stolen = steal_seconds() - stolen
    cases = [(s, c) for s, c in every if c.get("result") != "SKIPPED"]
    bad = [f"{s}.{c['name']}" for s, c in cases if c.get("failures")]
    crashed = code not in (0, 1) and not ended_in_termination(code, out + ".log")
    again = []
    if bad and len(bad) <= RUN_AGAIN_AT_MOST and not crashed:
        second, _ = gtest_once(command + ["--gtest_filter=" + ":".join(bad)], env, out + "-again")
        failed_again = {f"{s}.{c['name']}" for s, c in second or [] if c.get("failures")}
        ran_again = {f"{s}.{c['name']}" for s, c in second or []}
        again = [b for b in bad if b in ran_again and b not in failed_again]
        bad = [b for b in bad if b not in again]
    if crashed:
        bad.append(f"exited with {code}")
    if "LeakSanitizer has encountered a fatal error" in open(out + ".log", errors="replace").read():
        bad.append("the leak check did not run (LeakSanitizer's fatal error)")
    skipped = [f"{s}.{c['name']}" for s, c in every if c.get("result") == "SKIPPED"]
    # Under Wine a case skips only for want of a 32-bit process; natively the plain build runs it.
    with report:
        failure_details.append(failure_texts(cases, again))
    record(name, started, len(cases) - len(bad), bad, log_tail(out + ".log", 60) if bad else "",
           skipped if command[0] == "wine" else (), again, stolen)
    return skipped


def skip_32bit_program(name, twin, env):
    """Each case of a 32-bit test program, as its 64-bit twin (the same sources) lists it, skipped."""
    started, suite, cases = time.time(), "", []
    for line in subprocess.run(["wine", twin, "--gtest_list_tests"], cwd=ROOT, env=env, stdout=subprocess.PIPE,
                               text=True, errors="replace").stdout.splitlines():
        suite = line.strip() if line[:1] not in ("", " ") else suite
        cases += [suite + line.split("#")[0].strip()] if line.startswith("  ") else []
    record(name, started, 0, [] if cases else [f"{twin} listed no cases"], "", cases)


def script_once(name, env, log):
    """One run of a script suite: its passed count, failed checks, skipped checks and what it
    showed."""
    code = run(["bash", f"tests/scripts/{name}_test.sh"], env, log)
    output = open(log, errors="replace").read()
    shown = "".join("    " + l + "\n" for l in output.splitlines() if l.startswith(("FAIL: ", "  ")))
    bad = re.findall(r"^FAIL: (.*)$", output, re.M) or ([f"exited with {code}"] if code != 0 else [])
    return len(re.findall(r"^PASS: ", output, re.M)), bad, re.findall(r"^SKIP: (.*)$", output, re.M), shown


def run_script(name, env):
    started, log = time.time(), os.path.join(RESULTS, name + ".log")
    stolen = steal_seconds()
    passed, bad, skipped, shown = script_once(name, env, log)
    stolen = steal_seconds() - stolen
    again = []
    if bad and len(bad) <= RUN_AGAIN_AT_MOST and not bad[0].startswith("exited with"):
        first = bad
        passed, bad, skipped, second = script_once(name, env, os.path.join(RESULTS, name + "-again.log"))
        again = [b for b in first if b not in bad]
        shown += "    (run again)\n" + second
    record(name, started, passed, bad, shown, skipped, again, stolen)


def run_fuzz(env):
    for source in sorted(os.listdir(os.path.join(ROOT, "tests", "fuzz"))):
        if not source.endswith("_fuzz.cpp"):
            continue
        name, started = source[:-4], time.time()
        exe = os.path.join(ROOT, "build", "fuzz", "fuzz", name)
        if not os.path.exists(exe):
            record(f"fuzz/{name}", started, 0, ["not built"])
            continue
        work = os.path.join(ROOT, "build", "fuzz-work", name)  # new inputs never go to the seeds
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        log = os.path.join(RESULTS, name + ".log")
        code = run([exe, f"-max_total_time={FUZZ_SECONDS}", "-timeout=10", "-max_len=8192",
                    "-artifact_prefix=" + os.path.join(RESULTS, name + "-"), work,
                    os.path.join(ROOT, "tests", "fuzz", name[:-5] + "_corpus")], env, log)
        record(f"fuzz/{name}", started, 0 if code else 1, [f"exited with {code}"] if code else [],
               log_tail(log) if code else "")


def testenv(action, env=None):
    script = f"source scripts/testenv.sh && testenv_{action} >&2 && env -0"
    run = subprocess.run(["bash", "-c", script], cwd=ROOT, env=env, stdout=subprocess.PIPE, timeout=300)
    if run.returncode != 0:
        print(f"  the test environment did not {action} (scripts/testenv.sh, exit {run.returncode})",
              file=sys.stderr)
    out = run.stdout
    return dict(i.decode(errors="replace").split("=", 1) for i in out.split(b"\0") if b"=" in i)


# About how many seconds each suite under Wine takes (others count 5), as a clean-clone run on a
# 2-core machine of ours took them: the lanes are filled longest first, each suite to the lane
# with less to do, so they end at about the same time.
SUITE_SECONDS = {"win32": 202, "win64": 189, "e2e_watchdog": 60, "e2e_audio": 52, "e2e_isolated": 39,
                 "render": 35, "run": 34, "e2e_plugin_faults": 27, "isolated_render": 23,
                 "e2e_hotkeys": 12, "e2e_plugin_state": 9, "e2e": 6, "dll_search": 6, "package": 4}


# Suites that need no Wine run on the main thread beside the lanes: the lanes mostly wait on
# real time, so the cores have room for them, and a whole run ends that much sooner.
BESIDE_THE_LANES = ("real_plugins", "test_command", "msvc_runtime", "layers")


# Where only the 64-bit programs run, these suites' side-by-side programs take about 1.4 of the
# 2 cores by themselves (e2e_isolated alone: 37 s of processor time in 27 s), and beside the
# other lanes their streams broke (gaps of 67-317 ms where a buffer and a dropout are allowed):
# they run after the lanes, one at a time, which the win32 suites' absence leaves time for.
ALONE_WITHOUT_32BIT = ("e2e_isolated", "e2e_plugin_faults")


def run_lane(suites, env):
    wenv = testenv("start", env)
    try:
        for suite in suites:
            if suite == "win32" and env["KAWAUSO_RUNS_32BIT"] == "no":
                for program in ("kawauso-tests", "kawauso-wintests"):
                    skip_32bit_program(f"{suite}/{program}", f"build/win64/tests/{program}.exe", wenv)
            elif suite in ("win32", "win64"):
                for program in ("kawauso-tests", "kawauso-wintests"):
                    run_gtest(f"{suite}/{program}", ["wine", f"build/{suite}/tests/{program}.exe"], wenv)
            else:
                run_script(suite, wenv)
    finally:
        testenv("stop", wenv)


def main(argv):
    build_failed = 0
    if argv[:1] == ["--build-failed"]:
        build_failed, argv = int(argv[1]), argv[2:]
    scripts = sorted(f[:-8] for f in os.listdir(os.path.join(ROOT, "tests", "scripts")) if f.endswith("_test.sh"))
    known = ["native", "fuzz", "win32", "win64"] + scripts
    unknown = [s for s in argv if s not in known]
    if unknown:
        print(f"unknown suite {' '.join(unknown)}; suites: {' '.join(known)}")
        print("0 passed, 1 failed")
        return 1
    chosen = argv or known
    os.makedirs(RESULTS, exist_ok=True)
    if build_failed:
        record("build", time.time(), 0, ["a build failed"])
    # GCC 12's sanitizer runtime may take a dynamic TLS block (the test effects' thread_local,
    # loaded and unloaded) for an old glibc's and read a wild range from it: the leak check's
    # tracer died at the end of each run made here, status 1, which read as gtest's own.
    # Without its __tls_get_addr interception the check runs.
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:intercept_tls_get_addr=0",
               UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
    env["KAWAUSO_RUNS_32BIT"] = subprocess.run(
        ["bash", "-c", "source scripts/testenv.sh && testenv_probe_32bit && echo $KAWAUSO_RUNS_32BIT"],
        cwd=ROOT, env=env, stdout=subprocess.PIPE, text=True).stdout.strip()
    if env["KAWAUSO_RUNS_32BIT"] == "no":
        print("  no 32-bit process runs here: Wine's 64-bit loader only, what needs 32-bit skipped", flush=True)
    seconds, alone = SUITE_SECONDS, []
    if env["KAWAUSO_RUNS_32BIT"] == "no":
        seconds = dict(SUITE_SECONDS, win32=1)
        alone = [s for s in ALONE_WITHOUT_32BIT if s in chosen]
    wine_suites = sorted((s for s in known[2:] if s in chosen and s not in BESIDE_THE_LANES + tuple(alone)),
                         key=lambda s: -seconds.get(s, 5))
    lanes, loads = [[] for _ in LANE_ROOTS], [0 for _ in LANE_ROOTS]
    for suite in wine_suites:
        lane = loads.index(min(loads))
        lanes[lane].append(suite)
        loads[lane] += seconds.get(suite, 5)
    threads = [threading.Thread(target=run_lane, args=(lane, dict(env, TESTENV_ROOT=root)))
               for lane, root in zip(lanes, LANE_ROOTS) if lane]
    for t in threads:
        t.start()
    if "native" in chosen:
        # The fault tests raise the signals the sanitizers own: the plain build runs exactly what
        # the sanitized one skipped, and nothing it already ran.
        skipped = run_gtest("native", ["build/native-asan/tests/kawauso-tests"], env) or []
        if skipped:
            run_gtest("native/faults", ["build/native/tests/kawauso-tests",
                                        "--gtest_filter=" + ":".join(skipped)], env)
    if "fuzz" in chosen:
        run_fuzz(env)
    for suite in BESIDE_THE_LANES:
        if suite in chosen:
            run_script(suite, env)
    for t in threads:
        t.join()
    if alone:
        run_lane(alone, dict(env, TESTENV_ROOT=LANE_ROOTS[0]))
    share_tool = os.path.join(ROOT, "..", "shared", "tools", "test-share")
    if not argv and os.path.exists(share_tool):
        started = time.time()
        share = subprocess.run([sys.executable, share_tool, "--max", TEST_SHARE_LIMIT], cwd=ROOT, text=True,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        print("  " + share.stdout.strip())
        record("test share", started, 0 if share.returncode else 1,
               [f"above {TEST_SHARE_LIMIT}"] if share.returncode else [])
    open(os.path.join(RESULTS, "skipped.txt"), "w").write("".join(f + "\n" for f in skips))
    for suite in sorted({f.split(": ")[0] for f in skips}):  # each skipped check is in skipped.txt
        print(f"skipped: {suite}: {sum(f.startswith(suite + ': ') for f in skips)} ({NO_32BIT})")
    print("".join(failure_details), end="")
    for f in passed_again:
        print("passed when run again: " + f)
    for f in failures:
        print("failed: " + f)
    print(f"{counts['passed']} passed, {counts['failed']} failed" +
          (f", {counts['skipped']} skipped" if counts["skipped"] else ""))
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
