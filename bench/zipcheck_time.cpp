// Times the check of a staged update: zipcheck_time FILE [RUNS] prints the
// verdict, then the median and the fastest of RUNS checks in microseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zipcheck.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    std::string fault;
    std::vector<double> micros;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        fault = zipFileFault(argv[1]);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%s\n", fault.empty() ? "whole" : fault.c_str());
    if (runs > 0) std::printf("median_us %.1f\nfastest_us %.1f\n", micros[micros.size() / 2], micros[0]);
    return fault.empty() ? 0 : 1;
}
