// Takes N system samples and prints the CPU time one sample costs, in all and per listed
// process. The time between samples is not counted.
// Usage: sampler_bench [N] [PAUSE_MS] [--cold]
//   --cold  builds a new sampler for every sample, so no descriptor is kept open between
//           samples and every name is looked up again (what a fresh reader pays).
#include "monitor/system_sampler.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace {

double threadCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

double wallMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

} // namespace

int main(int argc, char* argv[])
{
    int samples = 40;
    int pauseMs = 50;
    bool cold = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cold") == 0)
            cold = true;
        else if (positional++ == 0)
            samples = std::max(1, std::atoi(argv[i]));
        else
            pauseMs = std::max(0, std::atoi(argv[i]));
    }

    auto sampler = std::make_unique<SystemSampler>();
    sampler->sample(); // primes the counters and opens the descriptors
    double cpu = 0, wall = 0;
    qint64 listed = 0;
    for (int i = 0; i < samples; ++i) {
        usleep(useconds_t(pauseMs) * 1000);
        const double cpuStart = threadCpuMicroseconds();
        const double wallStart = wallMicroseconds();
        if (cold) sampler = std::make_unique<SystemSampler>();
        const SystemSnapshot snapshot = sampler->sample();
        cpu += threadCpuMicroseconds() - cpuStart;
        wall += wallMicroseconds() - wallStart;
        listed += snapshot.processes.size();
    }
    const double processes = double(listed) / samples;
    std::printf("samples=%d mode=%s processes=%.0f cpu_us_per_sample=%.1f cpu_us_per_process=%.2f "
                "wall_us_per_sample=%.1f\n",
                samples, cold ? "cold" : "kept", processes, cpu / samples,
                processes > 0 ? cpu / samples / processes : 0.0, wall / samples);
    return 0;
}
