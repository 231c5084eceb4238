"""The launcher's standard output, line by line, as the tests expect it."""


def head(app, console="", argc=1):
    """From the argument lines to the "console=" line."""
    boot = app.boot_path
    return ["argc=%d" % argc, "argv[0]=" + app.path(app.exe.name),
            "debugFileExists=0", "bootXmPath=" + boot, boot, "console=" + console]


def swap(app, jar="", staged=0, swapped=False):
    jar_path = app.app_dir + app.sep + jar
    lines = ["jarFilePath=" + jar_path, "upFilePath=" + jar_path.replace(".jar", ".up"),
             "upFileExists=%d" % staged]
    return lines + (["remove succeed."] if swapped else [])


def launch(cwd, command_line, code):
    """One launch of Java through the runner; the process id normalised."""
    return ["currentDir=" + cwd, "javaCommandLine=" + command_line, "execute:processId==PID",
            "result=WAIT_OBJECT_0", "launchJava:retCode=%d" % code]


def failed_start(cwd, command_line):
    return ["currentDir=" + cwd, "javaCommandLine=" + command_line, "execute:createProcessResult==0",
            "launchJava:retCode=1"]
