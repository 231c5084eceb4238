#!/usr/bin/env bash
# What the launcher costs on top of what starting a program costs anyway:
# start-up against a minimal spawner (natively and under wine64), peak
# memory, the size of the Windows product, and how reading the boot
# definition scales. Expects the builds of `make build`; prints one table.
# Timings want a quiet machine: the load average is printed with them.
# The start-up runs alternate between the commands (bench/alternate.c), so
# that the ratios compare runs made side by side.
# BENCH_BASELINE=DIR: a second checkout, built, whose launchers run side by
# side with these ("before"), e.g. a worktree of an older commit.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/build/bench
BIN=$OUT/bin
RES=$OUT/results
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
NATIVE_RUNS=${BENCH_NATIVE_RUNS:-1000}
WINE_RUNS=${BENCH_WINE_RUNS:-100}
MEM_RUNS=5
FAT_MIB=16
JAR_MIB=50
JAR_ENTRIES=20000
JVM_RUNS=${BENCH_JVM_RUNS:-20}

say() { echo "bench: $*" >&2; }
die() { say "$*"; exit 1; }
# Quotes one word, where needed, for bash and for hyperfine's own splitting
# of a command (-N runs no shell): both follow the same rules.
q() {
  if [[ $1 =~ ^[A-Za-z0-9_./=:,@%+-]+$ ]]; then
    printf '%s' "$1"
  else
    local s=${1//\'/\'\\\'\'}
    printf "'%s'" "$s"
  fi
}

for f in build/linux/launcher build/win64/launcher.exe build/win32/launcher.exe; do
  [ -f "$f" ] || die "$f is missing: run 'make build' first"
done
BASE=${BENCH_BASELINE:-}
if [ -n "$BASE" ]; then
  BASE=$(cd "$BASE" && pwd)
  for f in build/linux/launcher build/win64/launcher.exe build/win32/launcher.exe; do
    [ -f "$BASE/$f" ] || die "BENCH_BASELINE: $BASE/$f is missing: build that checkout first"
  done
fi
command -v hyperfine >/dev/null || die "hyperfine is missing (scripts/bootstrap.sh installs it)"
[ -x /usr/bin/time ] || die "/usr/bin/time is missing (package 'time')"

# The application folders stay after the run, so that the commands printed
# at the end can be run again as they are; each run starts them afresh.
WORK=$OUT/apps
mkdir -p "$BIN"
rm -rf "$RES" "$WORK"
mkdir -p "$RES" "$WORK"
WINESERVER_STARTED=0
cleanup() {
  # Only a wineserver this run started goes; one found running stays.
  if [ "$WINESERVER_STARTED" = 1 ]; then
    WINEPREFIX=$OUT/wineprefix "$WINESERVER" -k 2>/dev/null || true
  fi
}
trap cleanup EXIT

# Runs a command and keeps it, quoted for bash, for the list printed at the end.
logged() {
  local word line=""
  for word in "$@"; do line+="${line:+ }$(q "$word")"; done
  echo "$line" >>"$RES/commands.txt"
  "$@"
}

uptime_load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "load_before $(uptime_load)" >>"$RES/facts.txt"
echo "cpus $(nproc)" >>"$RES/facts.txt"

# ---------------------------------------------------------------- helpers
say "compiling the helpers into $BIN"
cc -static -O2 -o "$BIN/child" bench/child.c
cc -static -O2 -o "$BIN/floor" bench/floor.c
cc -static -O2 -DFORK_EXEC -o "$BIN/floor-fork" bench/floor.c
cc -static -O2 -o "$BIN/probe" bench/probe.c
cc -O2 -o "$BIN/alternate" bench/alternate.c

# An application folder with its own copy of the launcher: the launcher
# finds its folder through /proc/self/exe, which a symbolic link would defeat.
make_app() {  # make_app DIR LAUNCHER JAVA [make_boot.py options]
  local dir=$1 launcher=$2 java=$3
  shift 3
  mkdir -p "$dir"
  cp "$launcher" "$dir/"
  /usr/bin/python3 bench/make_boot.py "$dir" "$java" "$@"
}

# The floors must really start the child and hand back its code.
"$BIN/floor" "$BIN/child" || die "the floor does not run the child"
if "$BIN/floor" /bin/false; then die "the floor ignores the child's exit code"; fi
if "$BIN/floor-fork" /bin/false; then die "the fork floor ignores the child's exit code"; fi

# The launcher must have started the child, not failed before it.
check_started() {  # check_started OUTPUT_FILE WHAT
  grep -q "launchJava:retCode=0" "$1" || { cat "$1" >&2; die "$2 did not run its child"; }
}

# ---------------------------------------------------- 1. native start-up
NAPP=$WORK/native-app
make_app "$NAPP" build/linux/launcher "$BIN/child"
"$NAPP/launcher" >"$WORK/native-check.txt"
grep -q "javaCommandLine=$BIN/child" "$WORK/native-check.txt" || die "the launcher built another command line"
check_started "$WORK/native-check.txt" "the native launcher"

before=()
if [ -n "$BASE" ]; then
  make_app "$WORK/native-before" "$BASE/build/linux/launcher" "$BIN/child"
  "$WORK/native-before/launcher" >"$WORK/native-check.txt"
  check_started "$WORK/native-check.txt" "the baseline's native launcher"
  before=(-- launcher-before "$WORK/native-before/launcher")
fi
# The same with the log key: each start appends its record to a file in
# the user's folder (here one of the run's own).
LAPP=$WORK/native-log-app
make_app "$LAPP" build/linux/launcher "$BIN/child" --log
XDG_STATE_HOME=$WORK/state "$LAPP/launcher" >"$WORK/native-check.txt"
check_started "$WORK/native-check.txt" "the native launcher with log"
grep -q "^log=$WORK/state/" "$WORK/native-check.txt" || die "the launcher with log wrote no log"
# The same with the userOptions key, the user's file holding two options.
UAPP=$WORK/native-useroptions-app
make_app "$UAPP" build/linux/launcher "$BIN/child" --user-options
mkdir -p "$WORK/config/launcher"
printf '# more memory\n-Xmx2g\n-Dfile.encoding=UTF-8\n' >"$WORK/config/launcher/options"
XDG_CONFIG_HOME=$WORK/config "$UAPP/launcher" >"$WORK/native-check.txt"
check_started "$WORK/native-check.txt" "the native launcher with userOptions"
grep -q "^userOption=-Xmx2g" "$WORK/native-check.txt" || die "the launcher with userOptions took no option"
# The same with singleInstance: each start takes the instance and opens
# its channel, as the first copy; its state in a folder of the run's own.
SAPP=$WORK/native-single-app
make_app "$SAPP" build/linux/launcher "$BIN/child" --single-instance
XDG_RUNTIME_DIR= XDG_STATE_HOME=$WORK/state "$SAPP/launcher" >"$WORK/native-check.txt"
check_started "$WORK/native-check.txt" "the native launcher with singleInstance"
grep -q "^singleInstance=$WORK/state/" "$WORK/native-check.txt" || die "the launcher with singleInstance held no instance"
say "native start-up: side by side, $NATIVE_RUNS rounds"
logged env XDG_RUNTIME_DIR= XDG_STATE_HOME="$WORK/state" XDG_CONFIG_HOME="$WORK/config" "$BIN/alternate" "$RES/native.json" "$NATIVE_RUNS" 20 \
  -- child "$BIN/child" \
  -- floor "$BIN/floor" "$BIN/child" \
  -- floor-fork "$BIN/floor-fork" "$BIN/child" \
  -- launcher "$NAPP/launcher" \
  -- launcher-log "$LAPP/launcher" \
  -- launcher-useroptions "$UAPP/launcher" \
  -- launcher-single "$SAPP/launcher" "${before[@]}" >"$RES/native.txt" 2>&1 ||
  die "the native start-up runs failed: see $RES/native.txt"

# A second start while the first copy runs an application that reads its
# requests: until it ends, and until its request has arrived.
HAPP=$WORK/native-handover-app
mkdir -p "$HAPP"
printf '#!/usr/bin/python3\nimport sys, time\nwith open(sys.argv[1], "a") as f:\n    for line in sys.stdin:\n        f.write("%%d\\n" %% time.monotonic_ns())\n        f.flush()\n' >"$HAPP/reader"
chmod +x "$HAPP/reader"
make_app "$HAPP" build/linux/launcher "$HAPP/reader" --single-instance --args "$HAPP/arrivals"
say "native: 100 second starts handing their requests over"
logged env XDG_RUNTIME_DIR= XDG_STATE_HOME="$WORK/state" /usr/bin/python3 bench/handover.py "$HAPP" 100 "$RES/handover.txt" ||
  die "the second starts failed"

NATIVE_RATIO=$(/usr/bin/python3 bench/table.py --ratio "$RES/native.json" launcher floor)

# ------------------------- 1b. where the time goes, if over the target
if /usr/bin/python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) > 1.05 else 1)" "$NATIVE_RATIO"; then
  say "ratio $NATIVE_RATIO is over 1.05: counting page faults and instructions"
  if perf stat -e task-clock,page-faults -o /dev/null true 2>/dev/null; then
    for name in floor floor-fork launcher; do
      case $name in
        floor) cmd=("$BIN/floor" "$BIN/child") ;;
        floor-fork) cmd=("$BIN/floor-fork" "$BIN/child") ;;
        launcher) cmd=("$NAPP/launcher") ;;
      esac
      logged perf stat -x, -r 100 -e task-clock,page-faults -o "$WORK/perf.txt" -- "${cmd[@]}" >/dev/null
      awk -F, -v n="$name" '$3 == "task-clock" { print "perf_task_ms_" n, $1 }
                            $3 == "page-faults" { print "perf_faults_" n, $1 }' "$WORK/perf.txt" >>"$RES/invest.txt"
    done
  else
    echo "perf_missing 1" >>"$RES/invest.txt"
  fi
  if command -v valgrind >/dev/null && command -v callgrind_annotate >/dev/null; then
    # Without --trace-children only the spawning process is counted.
    logged valgrind --tool=callgrind --callgrind-out-file="$WORK/cg.floor" "$BIN/floor" "$BIN/child" >/dev/null 2>&1
    logged valgrind --tool=callgrind --callgrind-out-file="$WORK/cg.launcher" "$NAPP/launcher" >/dev/null 2>&1
    echo "ir_floor $(awk '/^(summary|totals):/ { print $2; exit }' "$WORK/cg.floor")" >>"$RES/invest.txt"
    echo "ir_launcher $(awk '/^(summary|totals):/ { print $2; exit }' "$WORK/cg.launcher")" >>"$RES/invest.txt"
    callgrind_annotate --inclusive=yes --threshold=100 "$WORK/cg.launcher" >"$WORK/cg.launcher.txt" 2>/dev/null
    ir_of() {  # ir_of KEY PATTERN: inclusive count of the first function matching, else 0
      local n
      n=$(awk -v re="$2" '$0 ~ re { gsub(",", "", $1); print $1; exit }' "$WORK/cg.launcher.txt")
      echo "$1 ${n:-0}" >>"$RES/invest.txt"
    }
    ir_of ir_main 'launcherMain\('
    ir_of ir_read_boot 'readBootXml\('
    ir_of ir_execute ':execute\(char'
  else
    echo "valgrind_missing 1" >>"$RES/invest.txt"
  fi
fi

# ------------------------------------------------ 2. start-up under Wine
wine_section() {
  if [ ! -x "$WINE" ] || [ ! -x "$WINESERVER" ]; then
    echo "wine64 is not installed" >"$RES/wine.skip"
    return
  fi
  if ! command -v x86_64-w64-mingw32-gcc-posix >/dev/null; then
    echo "x86_64-w64-mingw32-gcc-posix is not installed" >"$RES/wine.skip"
    return
  fi
  x86_64-w64-mingw32-gcc-posix -static -O2 -mwindows -o "$BIN/floor.exe" bench/win_floor.c
  # A GUI-subsystem child, so that neither side pays for a console host.
  x86_64-w64-mingw32-gcc-posix -static -O2 -mwindows -o "$BIN/child.exe" bench/child.c

  # Every Wine command gets this environment, the logged ones too, so that
  # they rerun alike.
  local wenv=(env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$OUT/wineprefix" WINEDEBUG=-all
              WINEDLLOVERRIDES="mscoree,mshtml=")
  mkdir -p "$OUT/wineprefix"
  # A persistent server: otherwise every run would pay for starting one.
  if "${wenv[@]}" "$WINESERVER" -p 2>/dev/null; then WINESERVER_STARTED=1; fi
  if [ ! -f "$OUT/wineprefix/system.reg" ]; then
    say "creating the Wine prefix $OUT/wineprefix (once)"
    "${wenv[@]}" "$WINE" wineboot -i >/dev/null 2>&1
  fi

  local wapp=$WORK/wine-app
  mkdir -p "$wapp"
  cp "$BIN/child.exe" "$wapp/child.exe"
  make_app "$wapp" build/win64/launcher.exe '${APP_DIR}child.exe'
  # The same file for the floor, by the name Wine gives it (drive Z: is /;
  # Windows takes forward slashes, which need no quoting on the way).
  local child_win="Z:$wapp/child.exe"
  "${wenv[@]}" "$WINE" "$wapp/launcher.exe" >"$WORK/wine-check.txt" 2>/dev/null || true
  check_started "$WORK/wine-check.txt" "the win64 launcher"
  "${wenv[@]}" "$WINE" "$BIN/floor.exe" "$child_win" || die "the Windows floor does not run the child"
  # The same with appId: the child starts with the ID, and a thread of the
  # launcher watches its windows while it runs.
  local iapp=$WORK/wine-appid-app
  mkdir -p "$iapp"
  cp "$BIN/child.exe" "$iapp/child.exe"
  make_app "$iapp" build/win64/launcher.exe '${APP_DIR}child.exe' --app-id Example.Bench
  "${wenv[@]}" "$WINE" "$iapp/launcher.exe" >"$WORK/wine-check.txt" 2>/dev/null || true
  check_started "$WORK/wine-check.txt" "the win64 launcher with appId"
  grep -q "^appId=Example.Bench" "$WORK/wine-check.txt" || die "the launcher took no appId"
  # The same with singleInstance: a mutex, a pipe and its thread at each start.
  local sapp=$WORK/wine-single-app
  mkdir -p "$sapp"
  cp "$BIN/child.exe" "$sapp/child.exe"
  make_app "$sapp" build/win64/launcher.exe '${APP_DIR}child.exe' --single-instance
  "${wenv[@]}" "$WINE" "$sapp/launcher.exe" >"$WORK/wine-check.txt" 2>/dev/null || true
  check_started "$WORK/wine-check.txt" "the win64 launcher with singleInstance"
  grep -q '^singleInstance=\\\\.\\pipe\\' "$WORK/wine-check.txt" || die "the launcher held no instance"

  local before=()
  if [ -n "$BASE" ]; then
    local bapp=$WORK/wine-before
    mkdir -p "$bapp"
    cp "$BIN/child.exe" "$bapp/child.exe"
    make_app "$bapp" "$BASE/build/win64/launcher.exe" '${APP_DIR}child.exe'
    "${wenv[@]}" "$WINE" "$bapp/launcher.exe" >"$WORK/wine-check.txt" 2>/dev/null || true
    check_started "$WORK/wine-check.txt" "the baseline's win64 launcher"
    before=(-- launcher-before "$WINE" "$bapp/launcher.exe")
  fi

  say "start-up under wine64: side by side, $WINE_RUNS rounds"
  logged "${wenv[@]}" "$BIN/alternate" "$RES/wine.json" "$WINE_RUNS" 5 \
    -- floor "$WINE" "$BIN/floor.exe" "$child_win" \
    -- launcher "$WINE" "$wapp/launcher.exe" \
    -- launcher-appid "$WINE" "$iapp/launcher.exe" \
    -- launcher-single "$WINE" "$sapp/launcher.exe" "${before[@]}" >"$RES/wine.txt" 2>&1 ||
    die "the start-up runs under Wine failed: see $RES/wine.txt"
}
wine_section

# --------------------------------------------------------- 3. memory
say "peak memory: $MEM_RUNS runs each of three children"
# Logs only the first of several alike runs.
first() {
  local i=$1
  shift
  if [ "$i" = 1 ]; then logged "$@"; else "$@"; fi
}
max_rss() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$1"; }
probe_field() { sed -n "s/.*$2=\([0-9-]*\).*/\1/p" "$1"; }

make_app "$WORK/mem-trivial" build/linux/launcher "$BIN/child"
for i in $(seq "$MEM_RUNS"); do
  first "$i" /usr/bin/time -v -o "$WORK/tv.txt" "$WORK/mem-trivial/launcher" >"$WORK/mem-out.txt"
  check_started "$WORK/mem-out.txt" "the launcher (trivial child)"
  echo "tv_trivial $(max_rss "$WORK/tv.txt")" >>"$RES/mem.txt"
done
logged /usr/bin/time -v -o "$WORK/tv.txt" "$BIN/child"
echo "tv_child_alone $(max_rss "$WORK/tv.txt")" >>"$RES/mem.txt"
# One process alone, seen both ways: how far time -v and /proc differ
# without any children.
logged /usr/bin/time -v -o "$WORK/tv.txt" "$BIN/probe" >"$WORK/probe-alone.txt"
echo "tv_probe_alone $(max_rss "$WORK/tv.txt")" >>"$RES/mem.txt"
echo "probe_alone_hwm $(probe_field "$WORK/probe-alone.txt" self_hwm_kb)" >>"$RES/mem.txt"

make_app "$WORK/mem-probe" build/linux/launcher "$BIN/probe"
for i in $(seq "$MEM_RUNS"); do
  first "$i" /usr/bin/time -v -o "$WORK/tv.txt" "$WORK/mem-probe/launcher" >"$WORK/mem-out.txt"
  check_started "$WORK/mem-out.txt" "the launcher (probe child)"
  echo "tv_probe $(max_rss "$WORK/tv.txt")" >>"$RES/mem.txt"
  echo "launcher_hwm $(probe_field "$WORK/mem-out.txt" parent_hwm_kb)" >>"$RES/mem.txt"
done

make_app "$WORK/mem-fat" build/linux/launcher "$BIN/probe" --args "$FAT_MIB"
for i in $(seq "$MEM_RUNS"); do
  first "$i" /usr/bin/time -v -o "$WORK/tv.txt" "$WORK/mem-fat/launcher" >"$WORK/mem-out.txt"
  check_started "$WORK/mem-out.txt" "the launcher (${FAT_MIB} MiB child)"
  echo "tv_fat $(max_rss "$WORK/tv.txt")" >>"$RES/mem.txt"
  echo "fat_launcher_hwm $(probe_field "$WORK/mem-out.txt" parent_hwm_kb)" >>"$RES/mem.txt"
  echo "fat_child_hwm $(probe_field "$WORK/mem-out.txt" self_hwm_kb)" >>"$RES/mem.txt"
done
echo "fat_mib $FAT_MIB" >>"$RES/facts.txt"

# ------------------------------------------------------------ 3b. size
STRIPPED=$WORK/launcher-stripped.exe
i686-w64-mingw32-strip -o "$STRIPPED" build/win32/launcher.exe
echo "win32_size $(stat -c %s build/win32/launcher.exe)" >>"$RES/facts.txt"
echo "win32_stripped $(stat -c %s "$STRIPPED")" >>"$RES/facts.txt"
if [ -n "$BASE" ]; then
  i686-w64-mingw32-strip -o "$WORK/before-stripped.exe" "$BASE/build/win32/launcher.exe"
  echo "win32_stripped_before $(stat -c %s "$WORK/before-stripped.exe")" >>"$RES/facts.txt"
fi

# ---------------------------------------- 4. size of the boot definition
say "boot definitions of 10, 1,000 and 100,000 items"
for n in 10 1000 100000; do
  make_app "$WORK/scale-$n" build/linux/launcher "$BIN/child" --items "$n"
  "$WORK/scale-$n/launcher" >"$WORK/scale-check.txt"
  check_started "$WORK/scale-check.txt" "the launcher with $n items"
  [ "$(grep -c '<item ' "$WORK/scale-$n/config/boot.xml")" -eq "$n" ] || die "boot.xml for $n has the wrong item count"
  /usr/bin/time -v -o "$WORK/tv.txt" "$WORK/scale-$n/launcher" >/dev/null
  echo "scale_rss_$n $(max_rss "$WORK/tv.txt")" >>"$RES/mem.txt"
done
logged hyperfine -N --warmup 3 --runs 40 --export-json "$RES/scale-small.json" \
  -n items-10 "$(q "$WORK/scale-10/launcher")" \
  -n items-1000 "$(q "$WORK/scale-1000/launcher")" >"$RES/scale-small.txt" 2>&1 ||
  die "hyperfine failed: see $RES/scale-small.txt"
logged hyperfine -N --warmup 1 --runs 10 --export-json "$RES/scale-big.json" \
  -n items-100000 "$(q "$WORK/scale-100000/launcher")" >"$RES/scale-big.txt" 2>&1 ||
  die "hyperfine failed: see $RES/scale-big.txt"

# --------------------------------------- 5. the check of a staged update
say "the check of a staged update: a $JAR_MIB MiB jar of $JAR_ENTRIES entries"
[ -x build/linux/zipcheck_time ] || die "build/linux/zipcheck_time is missing: run 'make build' first"
/usr/bin/python3 bench/make_jar.py "$WORK/big.jar" "$JAR_MIB" "$JAR_ENTRIES"
# The jar is in the page cache, as a freshly downloaded update is.
logged build/linux/zipcheck_time "$WORK/big.jar" 50 >"$RES/zipcheck.txt" || die "the check rejects a whole jar"
echo "jar_bytes $(stat -c %s "$WORK/big.jar")" >>"$RES/facts.txt"

# ------------------------------- 6. a class-data archive, with real JVMs
# A small Swing application under Xvfb, started by the launcher with
# classArchive (its archive made by an earlier start) and by java -jar
# directly, side by side, with the same runtime.
say "a class-data archive: a Swing application under Xvfb, $JVM_RUNS rounds per runtime"
mkdir -p "$WORK/swing"
javac -d "$WORK/swing" bench/SwingStart.java
printf 'Main-Class: SwingStart\n' >"$WORK/swing/manifest.txt"
(cd "$WORK/swing" && jar cfm swing.jar manifest.txt SwingStart*.class)
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
for jdk in 17:/usr/lib/jvm/java-17-openjdk-amd64 25:/usr/lib/jvm/temurin-25-jdk-amd64; do
  v=${jdk%%:*} java=${jdk#*:}/bin/java
  if [ ! -x "$java" ]; then
    echo "jvm_skip_$v $java is not on this machine" >>"$RES/facts.txt"
    continue
  fi
  dir=$WORK/archive-$v
  mkdir -p "$dir/config"
  cp build/linux/launcher "$dir/"
  printf '<?xml version="1.0"?>\n<boot>\n  <item key="java" value="%s"/>\n  <item key="-jar" value="%s"/>\n  <item key="classArchive" value="y"/>\n</boot>\n' \
    "$java" "$WORK/swing/swing.jar" >"$dir/config/boot.xml"
  archive=$dir/launcher.jsa
  [ "$v" = 25 ] && archive=$dir/launcher.aot
  # The first start: it records the classes; the archive is made after it.
  logged env DISPLAY=":$(cat "$WORK/display")" /usr/bin/python3 bench/first_start.py "$RES/jvm-first-$v.json" \
    "$JVM_RUNS" "$dir" "$archive" -- "$dir/launcher" -- "$java" -jar "$WORK/swing/swing.jar" ||
    die "the Swing application did not start"
  for _ in $(seq 300); do [ -e "$archive" ] && break; sleep 0.1; done
  [ -e "$archive" ] || die "Java $v made no archive"
  logged env DISPLAY=":$(cat "$WORK/display")" "$BIN/alternate" "$RES/jvm-$v.json" "$JVM_RUNS" 2 \
    -- launcher "$dir/launcher" -- direct "$java" -jar "$WORK/swing/swing.jar" ||
    die "the Swing application did not start"
done
kill $XVFB

echo "load_after $(uptime_load)" >>"$RES/facts.txt"
/usr/bin/python3 bench/table.py "$RES"
