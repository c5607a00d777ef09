// A small side-by-side harness: every contender runs on the same data in the same process, one
// repetition of each per round in an order drawn anew every round, so that noise from a shared
// machine (and whatever one contender leaves in the caches for the next) falls on all of them
// alike; the table shows medians and ratios to a named baseline. Google Benchmark offers the same
// (repetitions, random interleaving, medians), but not for the Windows builds that run under
// Wine, and it has no untimed preparation before each run short of pausing its timer.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace velk_bench {

struct Contender {
    std::string name;
    std::function<void()> prepare;  // untimed, before every run (may be empty)
    std::function<bool()> run;      // the timed part; false stops the benchmark
    int repetitions = 5;
    std::vector<double> seconds;
};

inline double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs every contender `repetitions` times, once a round, in a random order each round (the same
// orders in every run of a benchmark). False when a run failed.
inline bool RunAll(std::vector<Contender>& contenders)
{
    int most = 0;
    for (const Contender& c : contenders) most = std::max(most, c.repetitions);
    std::vector<Contender*> order;
    for (Contender& c : contenders) order.push_back(&c);
    std::mt19937 random(21);
    for (int round = 0; round < most; ++round) {
        std::shuffle(order.begin(), order.end(), random);
        for (Contender* next : order) {
            Contender& c = *next;
            if (round >= c.repetitions) continue;
            if (c.prepare) c.prepare();
            const auto start = std::chrono::steady_clock::now();
            const bool ok = c.run();
            const auto stop = std::chrono::steady_clock::now();
            if (!ok) {
                std::fprintf(stderr, "%s failed\n", c.name.c_str());
                return false;
            }
            c.seconds.push_back(std::chrono::duration<double>(stop - start).count());
        }
    }
    return true;
}

// A Markdown table: median time, throughput over `bytes` and the ratio of every contender's
// speed to the baseline's (above 1: faster than the baseline).
inline void PrintTable(const std::string& title, const std::vector<Contender>& contenders, double bytes,
                       const std::string& baseline)
{
    double baseSeconds = 0;
    for (const Contender& c : contenders)
        if (c.name == baseline) baseSeconds = Median(c.seconds);
    std::printf("\n### %s\n\n", title.c_str());
    std::printf("| contender | runs | median ms | MB/s | speed vs %s |\n|---|---|---|---|---|\n", baseline.c_str());
    for (const Contender& c : contenders) {
        const double s = Median(c.seconds);
        std::printf("| %s | %zu | %.2f | %.0f | %.3f |\n", c.name.c_str(), c.seconds.size(), s * 1e3,
                    bytes / s / 1e6, baseSeconds > 0 && s > 0 ? baseSeconds / s : 0.0);
    }
    std::fflush(stdout);
}

inline double MedianOf(const std::vector<Contender>& contenders, const std::string& name)
{
    for (const Contender& c : contenders)
        if (c.name == name) return Median(c.seconds);
    return 0;
}

// "--name=value" from the command line, or the fallback.
inline std::string Option(int argc, char** argv, const std::string& name, const std::string& fallback)
{
    const std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind(prefix, 0) == 0) return std::string(argv[i]).substr(prefix.size());
    return fallback;
}

// Differs between benchmark processes running at the same time.
inline unsigned long ProcessNumber()
{
#ifdef _WIN32
    return static_cast<unsigned long>(_getpid());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// Keeps the compiler from discarding a computed value.
inline void Keep(uint64_t value)
{
    static volatile uint64_t sink;
    sink = value;
}

}  // namespace velk_bench
