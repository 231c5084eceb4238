"""Times the launcher's first start with classArchive (no archive yet: the
run records its classes, and the archive is made after it ends) against
java -jar of the same runtime, round after round, in alternating order.
Before each start the background making of the round before has ended, so
that it slows neither. Writes the times in hyperfine's JSON shape.

    first_start.py OUT.json RUNS DIR ARCHIVE -- LAUNCHER -- JAVA ARGS..."""
import json
import os
import subprocess
import sys
import time


def settle(folder):
    for _ in range(600):
        if not [n for n in os.listdir(folder) if n.endswith((".classlist", ".job", ".part"))]:
            return
        time.sleep(0.05)
    sys.exit("first_start: the archive's making did not end")


def timed(cmd):
    start = time.monotonic()
    code = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    if code != 0:
        sys.exit(f"first_start: {cmd[0]} exited {code}")
    return time.monotonic() - start


def main():
    out, runs, folder, archive = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    rest = sys.argv[6:]
    split = rest.index("--")
    commands = {"launcher": rest[:split], "direct": rest[split + 1:]}
    times = {name: [] for name in commands}
    for round_ in range(runs):
        for name in (["launcher", "direct"] if round_ % 2 == 0 else ["direct", "launcher"]):
            settle(folder)
            if name == "launcher":
                for path in (archive, archive + ".record"):
                    if os.path.exists(path):
                        os.remove(path)
            times[name].append(timed(commands[name]))
    results = []
    for name, values in times.items():
        ordered = sorted(values)
        results.append({"command": name, "times": values, "mean": sum(values) / len(values),
                        "median": ordered[len(ordered) // 2], "min": ordered[0], "max": ordered[-1]})
    with open(out, "w") as f:
        json.dump({"results": results}, f)


main()
