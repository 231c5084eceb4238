"""Times second starts of a launcher with singleInstance while a first copy
runs an application that reads its requests: from each start to its end,
and from each start to its request's arrival in the application. Writes
KEY VALUE lines (milliseconds) for bench/table.py.
Usage: handover.py APP_DIR RUNS OUT"""
import os
import subprocess
import sys
import time


def main():
    app, runs, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    arrivals = os.path.join(app, "arrivals")
    launcher = os.path.join(app, "launcher")
    if os.path.exists(arrivals):
        os.remove(arrivals)
    first = subprocess.Popen([launcher], stdout=subprocess.DEVNULL)
    until = time.monotonic() + 30
    while not os.path.exists(arrivals):
        if time.monotonic() > until or first.poll() is not None:
            sys.exit("handover: the first copy's application did not start")
        time.sleep(0.01)
    lines = []
    try:
        for i in range(runs):
            start = time.monotonic_ns()
            code = subprocess.run([launcher, "document %d.txt" % i], stdout=subprocess.DEVNULL).returncode
            ended = time.monotonic_ns()
            if code != 0:
                sys.exit("handover: a second start ended with %d" % code)
            while True:
                with open(arrivals) as f:
                    got = f.read().split()
                if len(got) > i:
                    break
                if time.monotonic_ns() - start > 10e9:
                    sys.exit("handover: request %d did not arrive" % i)
                time.sleep(0.0005)
            lines.append("handover_exit_ms %.3f\n" % ((ended - start) / 1e6))
            lines.append("handover_arrival_ms %.3f\n" % ((int(got[i]) - start) / 1e6))
    finally:
        first.terminate()
        first.wait()
    with open(out, "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
