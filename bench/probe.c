/* A child that looks at its parent while the parent waits for it: it prints
   the parent's peak and current resident size from /proc, then, if given a
   number of MiB, touches that much memory and prints its own peak. It lives
   about 0.2 s so that the parent's wait is long compared to its start. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long status_kb(const char *path, const char *field) {
    char line[256];
    long kb = -1;
    size_t n = strlen(field);
    FILE *f = fopen(path, "r");
    if (!f) return -1;
    while (fgets(line, sizeof line, f))
        if (strncmp(line, field, n) == 0) kb = strtol(line + n, NULL, 10);
    fclose(f);
    return kb;
}

static void nap(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

int main(int argc, char **argv) {
    char parent[64];
    long mib = argc > 1 ? strtol(argv[1], NULL, 10) : 0;
    /* By now the parent has finished starting us and sits in its wait. */
    nap(100);
    snprintf(parent, sizeof parent, "/proc/%d/status", (int)getppid());
    long hwm = status_kb(parent, "VmHWM:");
    long rss = status_kb(parent, "VmRSS:");
    if (mib > 0) {
        size_t size = (size_t)mib << 20;
        char *block = malloc(size);
        if (!block) return 1;
        memset(block, 1, size);
        if (block[size - 1] != 1) return 1;
    }
    long self = status_kb("/proc/self/status", "VmHWM:");
    printf("probe parent_hwm_kb=%ld parent_rss_kb=%ld self_hwm_kb=%ld\n", hwm, rss, self);
    fflush(stdout);
    nap(100);
    return hwm > 0 && self > 0 ? 0 : 1;
}
