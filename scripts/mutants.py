#!/usr/bin/env python3
"""Mutation check: how many small faults planted in the program do the tests catch?

Collects mutation sites from the program's .cpp files, takes a seeded sample
of them, and for each one changes one line, rebuilds build-mutants/
incrementally, runs the tests and puts the file back byte for byte. A mutant
the tests fail on (or hang on) is caught; one they pass survives. The kill
rate (caught / built) on a fixed seed is how a change to the tests is judged:
the same seed always picks the same mutants from the same sources.

Run it through scripts/mutants.sh, which also puts files back should this
script be killed outright. Environment: SEED (default 1), COUNT (default 60),
JOBS (default 2).
"""

import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE_DIRS = ["core", "timebase", "wavfile", "mixer", "engine", "console", "app"]
BUILD = ROOT / "build-mutants"
# A copy of each file while it is mutated: if this script dies without its
# cleanup (SIGKILL), scripts/mutants.sh or the next run puts it back.
PENDING = BUILD / "pending"
# The session of the build or test run in progress, so that whoever puts a
# file back can first end a compiler that may still be reading the mutant:
# its object file, written after the source is restored, would look newer
# than the source and be kept by the next run.
SESSION = BUILD / "session"
LOGS = BUILD / "logs"

# Unit tests get this many seconds each. The end-to-end and interface tests
# set their own, longer limit, so the whole test run is cut off as well (a
# clean run takes a few seconds). A mutant that hangs the tests is caught.
TEST_TIMEOUT = 30
RUN_TIMEOUT = 60
# Where the tests of one run make their folders, and the most any file of
# theirs may hold (the largest a passing run writes is a few MB).
TEST_TMP = BUILD / "tmp"
TEST_FILE_LIMIT_BYTES = 256 * 1024 * 1024

# ------------------------------------------------------------ masking


def mask_source(text):
    """Returns text of the same length with comments blanked and the insides
    of string and character literals blanked (the quotes stay), so that
    patterns match code only and columns still line up with the source."""
    out = list(text)
    i, n = 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif c == '"':
            prefix = re.search(r"\w*$", text[:i]).group(0)
            if prefix in ("R", "u8R", "uR", "UR", "LR"):
                # R"delim( ... )delim"
                open_paren = text.find("(", i)
                delim = text[i + 1:open_paren]
                end = text.find(")" + delim + '"', open_paren)
                end = n if end < 0 else end + len(delim) + 1
                blank(i + 1, end)
                i = end + 1
                continue
            j = i + 1
            while j < n and text[j] != '"' and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i + 1, min(j, n))
            i = j + 1
        elif c == "'":
            # A quote inside a number is a digit separator (1'000), not a
            # character literal.
            k = i
            while k > 0 and (text[k - 1].isalnum() or text[k - 1] in "_'"):
                k -= 1
            if k < i and text[k].isdigit():
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != "'" and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i + 1, min(j, n))
            i = j + 1
        else:
            i += 1
    return "".join(out)


def skipped_lines(masked_lines):
    """Indices of lines no operator touches: preprocessor lines (with their
    continuations) and every line of a static_assert."""
    skip = set()
    continued = False
    for idx, line in enumerate(masked_lines):
        if continued or line.lstrip().startswith("#"):
            skip.add(idx)
            continued = line.rstrip().endswith("\\")
    joined = "\n".join(masked_lines)
    starts = [0]
    for line in masked_lines:
        starts.append(starts[-1] + len(line) + 1)
    for m in re.finditer(r"\bstatic_assert\s*\(", joined):
        depth, j = 0, m.end() - 1
        while j < len(joined):
            if joined[j] == "(":
                depth += 1
            elif joined[j] == ")":
                depth -= 1
                if depth == 0:
                    break
            j += 1
        first = line_of(starts, m.start())
        last = line_of(starts, j)
        skip.update(range(first, last + 1))
    return skip


def line_of(starts, offset):
    lo, hi = 0, len(starts) - 1
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if starts[mid] <= offset:
            lo = mid
        else:
            hi = mid - 1
    return lo


# ------------------------------------------------------------ operators

FLIP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
COMPARISON = re.compile(r"<=|>=|==|!=|<|>")
INT_LITERAL = r"(?:0[xX][0-9a-fA-F']+|\d[\d']*)[uUlLzZ]*"
KEYWORDS = {
    "if", "else", "for", "while", "do", "switch", "case", "default", "return", "co_return",
    "break", "continue", "goto", "sizeof", "alignof", "decltype", "noexcept", "static_cast",
    "const_cast", "reinterpret_cast", "dynamic_cast", "catch", "throw", "new", "delete",
    "operator", "using", "typedef", "namespace", "template", "typename", "static_assert",
    "alignas", "requires", "true", "false", "nullptr", "this", "public", "private",
    "protected", "struct", "class", "enum", "union", "explicit",
}
# A type (possibly qualified, templated, const, pointer or reference) and a
# name: the start of a declaration rather than an expression.
DECLARATION = re.compile(
    r"^\s*(?:(?:const|constexpr|constinit|static|inline|thread_local|extern|mutable|volatile|"
    r"unsigned|signed|long|short|struct|class|enum|typename)\s+)*"
    r"[A-Za-z_][\w:]*(?:<[^;]*>)?(?:\s*[*&]+\s*|\s+)(?:const\s+)?[*&]*\s*[A-Za-z_]\w*\s*([=;({\[,:]|$)"
    r"|^\s*(?:const\s+)?auto\b")


def declares_in_condition(condition):
    """if (Type name = ...) and if (auto name = ...) declare a variable."""
    m = DECLARATION.match(condition)
    return m is not None and (m.group(1) is None or m.group(1) in "={")


def comparison_sites(code):
    """(start, end, operator) of each comparison operator in a masked line."""
    sites = []
    for m in COMPARISON.finditer(code):
        op, a, b = m.group(0), m.start(), m.end()
        before = code[a - 1] if a > 0 else " "
        after = code[b] if b < len(code) else " "
        if before in "<>=!-" or after in "<>=":
            continue  # <<, >>, <=>, ->, <<=, >>=, ===-like debris
        if re.search(r"\boperator\s*$", code[:a]):
            continue
        if op in ("<", ">") and not (before.isspace() and after.isspace()):
            continue  # template brackets are written without spaces
        if op in ("<", ">") and re.search(r"\btemplate\s*$", code[:a]):
            continue
        sites.append((a, b, op))
    return sites


def op_flip_comparison(code, line):
    for a, b, op in comparison_sites(code):
        yield a, "flip-comparison", line[:a] + FLIP[op] + line[b:]


def shifted(literal):
    m = re.match(r"(0[xX][0-9a-fA-F']+|\d[\d']*)([uUlLzZ]*)$", literal)
    digits, suffix = m.group(1), m.group(2)
    value = digits.replace("'", "")
    if value.lower().startswith("0x"):
        return hex(int(value, 16) + 1) + suffix
    if len(value) > 1 and value.startswith("0"):
        return None  # octal: leave it alone
    return str(int(value) + 1) + suffix


def op_shift_bound(code, line):
    spans = []
    for a, b, _ in comparison_sites(code):
        right = re.match(r"\s*-?\s*(" + INT_LITERAL + r")(?![\w.'])", code[b:])
        if right:
            spans.append((b + right.start(1), b + right.end(1)))
        left = re.search(r"(?<![\w.'])(" + INT_LITERAL + r")\s*$", code[:a])
        if left:
            spans.append((left.start(1), left.end(1)))
    # The size of an array being declared: `char buf[64];`, std::array<T, 4>.
    declared = DECLARATION.match(code)
    if declared and declared.group(1) == "[":
        bound = re.match(r"\s*(" + INT_LITERAL + r")\s*\]", code[declared.end():])
        if bound:
            spans.append((declared.end() + bound.start(1), declared.end() + bound.end(1)))
    for m in re.finditer(r"\barray\s*<[^<>;]*,\s*(" + INT_LITERAL + r")\s*>", code):
        spans.append((m.start(1), m.end(1)))
    for a, b in sorted(set(spans)):
        new = shifted(line[a:b])
        if new is not None:
            yield a, "shift-bound", line[:a] + new + line[b:]


def balanced(code):
    depth = 0
    for ch in code:
        if ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
            if depth < 0:
                return False
    return depth == 0


def op_drop_statement(code, line, previous_code, next_code):
    body = code.strip()
    if not body.endswith(";") or not balanced(body):
        return
    # Only a whole statement: the line before ends one, opens a block or is
    # a label, so this line is neither a continuation nor a braceless body.
    if not previous_code.rstrip().endswith((";", "{", "}", ":")):
        return
    # A label needs a statement before the block closes: `default: break; }`
    # keeps its break.
    if previous_code.rstrip().endswith(":") and next_code.lstrip().startswith("}"):
        return
    first = re.match(r"[A-Za-z_]\w*", body)
    if body in ("break;", "continue;"):
        pass
    elif first is None or first.group(0) in KEYWORDS or DECLARATION.match(body):
        return
    elif re.search(r"=\s*(?:default|delete|0)\s*;$", body):
        return
    elif not re.search(r"\(|\+\+|--|(?<![=!<>])=(?!=)", body):
        return
    indent = len(line) - len(line.lstrip())
    yield indent, "drop-statement", ""


def matching_paren(code, open_index):
    depth = 0
    for j in range(open_index, len(code)):
        if code[j] in "([{":
            depth += 1
        elif code[j] in ")]}":
            depth -= 1
            if depth == 0:
                return j if code[j] == ")" else None
    return None


def split_arguments(code, a, b):
    """(start, end) of each top-level argument between parentheses a and b."""
    args, depth, start = [], 0, a + 1
    for j in range(a + 1, b):
        ch = code[j]
        if ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif ch == "," and depth == 0:
            args.append((start, j))
            start = j + 1
    args.append((start, b))
    return args


PLAIN_ARGUMENT = re.compile(r"^[A-Za-z_]\w*(?:(?:\.|->)[A-Za-z_]\w*)*$")


def same_kind(x, y):
    """Two arguments likely to have one type: both plain names, or both
    members of the same object (s.rangeStart, s.rangeEnd). A name next to
    a member (s, s.inPoint) almost never is, and such a swap only fails to
    build."""
    path_x, path_y = re.split(r"\.|->", x), re.split(r"\.|->", y)
    return len(path_x) == len(path_y) and path_x[:-1] == path_y[:-1]


def op_swap_arguments(code, line):
    for m in re.finditer(r"\(", code):
        a = m.start()
        callee = re.search(r"([A-Za-z_]\w*)\s*(?:<[^;()]*>)?\s*$", code[:a])
        if not callee or callee.group(1) in KEYWORDS:
            continue
        b = matching_paren(code, a)
        if b is None:
            continue
        args = split_arguments(code, a, b)
        for (s1, e1), (s2, e2) in zip(args, args[1:]):
            x, y = code[s1:e1].strip(), code[s2:e2].strip()
            if x == y or not PLAIN_ARGUMENT.match(x) or not PLAIN_ARGUMENT.match(y) or not same_kind(x, y):
                continue
            if x in KEYWORDS or y in KEYWORDS:
                continue
            xs = s1 + code[s1:e1].index(x)
            ys = s2 + code[s2:e2].index(y)
            mutated = line[:xs] + y + line[xs + len(x):ys] + x + line[ys + len(y):]
            yield xs, "swap-arguments", mutated


def op_negate_condition(code, line):
    for m in re.finditer(r"\bif\s*\(", code):
        a = m.end() - 1
        b = matching_paren(code, a)
        if b is None:
            continue
        start = a + 1
        semicolon = code.rfind(";", start, b)
        if semicolon >= 0:
            start = semicolon + 1  # if (init; condition)
        while start < b and code[start].isspace():
            start += 1
        condition = code[start:b]
        if not condition.strip() or declares_in_condition(condition):
            continue  # if (auto x = ...) declares; negating it would not build
        yield start, "negate-condition", line[:start] + "!(" + line[start:b] + ")" + line[b:]


# ------------------------------------------------------------ collection


def source_files():
    files = []
    for d in SOURCE_DIRS:
        files.extend(sorted((ROOT / d).glob("*.cpp")))
    return files


def collect(files):
    """Every candidate as (path, line number, column, operator, original, mutated)."""
    candidates = []
    for path in files:
        text = path.read_bytes().decode("utf-8")
        lines = text.split("\n")
        masked = mask_source(text).split("\n")
        skip = skipped_lines(masked)
        rel = path.relative_to(ROOT).as_posix()
        previous_code = ";"
        next_code = {}
        following = "}"
        for idx in reversed(range(len(lines))):
            next_code[idx] = following
            if masked[idx].strip():
                following = ";" if idx in skip else masked[idx]
        for idx, (line, code) in enumerate(zip(lines, masked)):
            if idx in skip or not code.strip():
                if idx in skip and code.strip():
                    previous_code = ";"
                continue
            found = []
            found += op_flip_comparison(code, line)
            found += op_shift_bound(code, line)
            found += op_drop_statement(code, line, previous_code, next_code[idx])
            found += op_swap_arguments(code, line)
            found += op_negate_condition(code, line)
            seen = set()
            for column, op, mutated in sorted(found, key=lambda f: (f[0], f[1])):
                if mutated == line or mutated in seen:
                    continue
                seen.add(mutated)
                candidates.append((rel, idx + 1, column, op, line, mutated))
            previous_code = code
    candidates.sort(key=lambda c: (c[0], c[1], c[2], c[3], c[5]))
    return candidates


# ------------------------------------------------------------ running


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    # Further signals are ignored: the cleanup that follows (stopping the
    # build or the tests, putting the file back) must run to its end.
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, signal.SIG_IGN)
    raise Interrupted(signum)


def run(command, log, timeout=None, env=None, limit_files=False):
    """Runs a command in a session of its own, output to log, and ends
    whatever it leaves running. Returns (exit status, timed out)."""
    def cap_file_size():
        # A mutant that loops printing fills a test's output file; no file
        # of a test run may grow past this, or one hang fills the disk.
        resource.setrlimit(resource.RLIMIT_FSIZE, (TEST_FILE_LIMIT_BYTES, TEST_FILE_LIMIT_BYTES))

    with open(log, "wb") as out:
        proc = subprocess.Popen(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True, env=env,
                                preexec_fn=cap_file_size if limit_files else None)
        try:
            SESSION.write_text(f"{proc.pid}\n")
            return proc.wait(timeout=timeout), False
        except subprocess.TimeoutExpired:
            return None, True
        finally:
            stop(proc)
            SESSION.unlink(missing_ok=True)


def session_members(session):
    """Live processes of a session. The end-to-end tests start the program
    under timeout(1), which moves it to a process group of its own, so a
    session, not a group, holds everything a build or test run started."""
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = Path("/proc", entry, "stat").read_text()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        if fields[0] != "Z" and int(fields[3]) == session:
            members.append(int(entry))
    return members


def stop(proc):
    """Ends a command and everything it left running."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        if proc.poll() is None:
            members = [proc.pid]
        else:
            members = []
        members += [pid for pid in session_members(proc.pid) if pid != proc.pid]
        if not members:
            return
        for pid in members:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            proc.poll()
            if proc.returncode is not None and not session_members(proc.pid):
                return
            time.sleep(0.05)


def jobs():
    return os.environ.get("JOBS", "2")


def build(log):
    status, _ = run(["cmake", "--build", str(BUILD), "-j" + jobs()], log)
    return status == 0


def test(log):
    """'pass', 'fail' or 'timeout'."""
    # The tests make their project folders under TMPDIR; a test the run cuts
    # off never removes its own, so each run gets a folder of its own that
    # goes afterwards.
    shutil.rmtree(TEST_TMP, ignore_errors=True)
    TEST_TMP.mkdir(parents=True)
    env = dict(os.environ, TMPDIR=str(TEST_TMP))
    try:
        status, timed_out = run(["ctest", "--test-dir", str(BUILD), "-j" + jobs(), "--timeout", str(TEST_TIMEOUT),
                                 "--stop-on-failure", "--no-tests=error", "--output-on-failure"],
                                log, timeout=RUN_TIMEOUT, env=env, limit_files=True)
    finally:
        shutil.rmtree(TEST_TMP, ignore_errors=True)
    if timed_out:
        return "timeout"
    text = Path(log).read_text(errors="replace")
    if status == 0:
        return "pass"
    return "timeout" if "***Timeout" in text else "fail"


def listing_failed(log):
    # The test programs list their tests right after linking; a mutant that
    # makes them crash before main() fails there, which is a catch.
    text = Path(log).read_text(errors="replace")
    return "Error running test executable" in text


def restore_pending():
    """Puts back files left mutated by a run that was killed outright."""
    if SESSION.exists():
        session = int(SESSION.read_text())
        deadline = time.monotonic() + 10
        while session_members(session) and time.monotonic() < deadline:
            for pid in session_members(session):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.05)
        SESSION.unlink()
    if not PENDING.exists():
        return
    for copy in sorted(p for p in PENDING.rglob("*") if p.is_file()):
        target = ROOT / copy.relative_to(PENDING)
        target.write_bytes(copy.read_bytes())
        copy.unlink()
        print(f"restored {target.relative_to(ROOT)} from an interrupted run")


class Mutation:
    """Writes a mutant into its file and puts the original back."""

    def __init__(self, rel):
        self.path = ROOT / rel
        self.copy = PENDING / rel
        self.original = None

    def apply(self, line_number, mutated):
        self.original = self.path.read_bytes()
        self.copy.parent.mkdir(parents=True, exist_ok=True)
        self.copy.write_bytes(self.original)
        lines = self.original.decode("utf-8").split("\n")
        lines[line_number - 1] = mutated
        self.path.write_bytes("\n".join(lines).encode("utf-8"))

    def restore(self):
        if self.original is None:
            return
        self.path.write_bytes(self.original)
        self.original = None
        self.copy.unlink(missing_ok=True)


def env_int(name, default):
    value = os.environ.get(name, str(default))
    if not re.fullmatch(r"\d+", value):
        sys.exit(f"{name} must be a whole number, not {value!r}")
    return int(value)


def main():
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, on_signal)
    seed = env_int("SEED", 1)
    count = env_int("COUNT", 60)
    started = time.monotonic()

    restore_pending()
    candidates = collect(source_files())
    picked = random.Random(seed).sample(candidates, min(count, len(candidates)))
    # Mutants of one file run one after another: each file put back is then
    # recompiled once, not after every mutant.
    picked.sort(key=lambda c: (c[0], c[1], c[2], c[3], c[5]))
    print(f"SEED={seed} COUNT={count}: {len(picked)} mutants sampled from {len(candidates)} sites", flush=True)

    LOGS.mkdir(parents=True, exist_ok=True)
    status, _ = run(["cmake", "-S", str(ROOT), "-B", str(BUILD), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                     "-DSONDREL_SANITIZE=OFF", "-DSONDREL_WERROR=OFF", "-DSONDREL_BENCH=OFF",
                     "-DBUILD_TESTING=ON"], LOGS / "configure.log")
    if status != 0:
        sys.exit(f"configuring {BUILD.name}/ failed: see {LOGS / 'configure.log'}")
    t0 = time.monotonic()
    if not build(LOGS / "unmutated-build.log"):
        sys.exit(f"the unmutated program does not build: see {LOGS / 'unmutated-build.log'}")
    if test(LOGS / "unmutated-test.log") != "pass":
        sys.exit(f"the tests fail without any mutant: see {LOGS / 'unmutated-test.log'}")
    print(f"unmutated build and tests pass ({time.monotonic() - t0:.0f} s)", flush=True)

    results = []
    width = len(str(len(picked)))
    for number, (rel, line_number, _column, op, before, after) in enumerate(picked, 1):
        t0 = time.monotonic()
        mutation = Mutation(rel)
        try:
            mutation.apply(line_number, after)
            build_log = LOGS / f"{number:03d}-build.log"
            if build(build_log):
                outcome = {"pass": "survived", "fail": "caught", "timeout": "caught (timeout)"}[
                    test(LOGS / f"{number:03d}-test.log")]
            elif listing_failed(build_log):
                outcome = "caught (test listing)"
            else:
                outcome = "did not build"
        finally:
            mutation.restore()
        seconds = time.monotonic() - t0
        results.append((rel, line_number, op, before, after, outcome))
        print(f"[{number:{width}d}/{len(picked)}] {rel}:{line_number} {op} {outcome} {seconds:.0f} s", flush=True)

    built = [r for r in results if r[5] != "did not build"]
    caught = [r for r in built if r[5].startswith("caught")]
    survivors = [r for r in built if r[5] == "survived"]
    rate = 100.0 * len(caught) / len(built) if built else 0.0
    minutes = (time.monotonic() - started) / 60
    print()
    print(f"SEED={seed} COUNT={count}: {len(results)} mutants, {len(built)} built, {len(caught)} caught, "
          f"{len(survivors)} survived")
    print(f"kill rate: {rate:.1f} % ({len(caught)} / {len(built)}), {minutes:.1f} minutes")
    if survivors:
        print("survivors:")
        for rel, line_number, op, before, after, _ in survivors:
            print(f"  {rel}:{line_number} {op}")
            print(f"    - {before.strip()}")
            print(f"    + {after.strip() if after.strip() else '(line removed)'}")


if __name__ == "__main__":
    try:
        main()
    except Interrupted as stop_signal:
        signum = stop_signal.args[0]
        signal.signal(signum, signal.SIG_DFL)
        print(f"\nstopped by {signal.Signals(signum).name}; sources restored", file=sys.stderr)
        sys.exit(128 + signum)
