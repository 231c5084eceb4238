/* Times several commands side by side: round after round, each command runs
   once per round, in an order that reverses every other round, so that load
   which comes and goes during a run falls on all of them alike (hyperfine
   runs all runs of one command before the next). Like hyperfine -N: no
   shell, standard output and error on /dev/null, wall time from just before
   the start to the reaped exit.

     alternate OUT.json RUNS WARMUP -- NAME PROGRAM ARGS... -- NAME PROGRAM ...

   Writes the results in hyperfine's JSON shape (seconds) and fails if any
   run of a command exits other than 0. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

#define MAX_COMMANDS 16

struct command {
    const char *name;
    char **argv;
    double *times;
};

static int by_value(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* One start of the command; its wall time in seconds, or -1 if it failed. */
static double run_once(struct command *c, posix_spawn_file_actions_t *quiet) {
    pid_t pid;
    int status;
    double start = now();
    if (posix_spawn(&pid, c->argv[0], quiet, NULL, c->argv, environ) != 0) return -1;
    if (waitpid(pid, &status, 0) != pid) return -1;
    double elapsed = now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

int main(int argc, char **argv) {
    struct command commands[MAX_COMMANDS];
    int count = 0;
    if (argc < 6 || strcmp(argv[4], "--") != 0) {
        fprintf(stderr, "usage: alternate OUT.json RUNS WARMUP -- NAME PROGRAM ARGS... [-- NAME ...]\n");
        return 2;
    }
    const char *out = argv[1];
    int runs = atoi(argv[2]), warmup = atoi(argv[3]);
    if (runs < 1 || warmup < 0) return 2;
    for (int i = 4; i < argc; ++i) {
        if (strcmp(argv[i], "--") != 0) continue;
        if (count == MAX_COMMANDS || i + 2 >= argc) return 2;
        argv[i] = NULL; /* ends the previous command's arguments */
        commands[count].name = argv[i + 1];
        commands[count].argv = argv + i + 2;
        commands[count].times = calloc(runs, sizeof(double));
        if (!commands[count].times) return 1;
        ++count;
    }

    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);

    for (int round = -warmup; round < runs; ++round) {
        for (int k = 0; k < count; ++k) {
            struct command *c = &commands[(round & 1) ? count - 1 - k : k];
            double t = run_once(c, &quiet);
            if (t < 0) {
                fprintf(stderr, "alternate: %s (%s) failed\n", c->name, c->argv[0]);
                return 1;
            }
            if (round >= 0) c->times[round] = t;
        }
    }

    FILE *f = fopen(out, "w");
    if (!f) return 1;
    fprintf(f, "{\"results\": [");
    for (int k = 0; k < count; ++k) {
        struct command *c = &commands[k];
        double sum = 0;
        fprintf(f, "%s{\"command\": \"%s\", \"times\": [", k ? ", " : "", c->name);
        for (int r = 0; r < runs; ++r) {
            fprintf(f, "%s%.9f", r ? ", " : "", c->times[r]);
            sum += c->times[r];
        }
        qsort(c->times, runs, sizeof(double), by_value);
        double median = runs % 2 ? c->times[runs / 2] : (c->times[runs / 2 - 1] + c->times[runs / 2]) / 2;
        fprintf(f, "], \"mean\": %.9f, \"median\": %.9f, \"min\": %.9f, \"max\": %.9f}", sum / runs, median,
                c->times[0], c->times[runs - 1]);
    }
    fprintf(f, "]}\n");
    return fclose(f) == 0 ? 0 : 1;
}
