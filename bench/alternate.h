// Runs each contender of a benchmark in a child process of its own, several
// rounds in alternation on the same input (so the page cache and a busy
// machine weigh on all of them alike), and reports medians.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvel::bench {

// One run: wall and CPU seconds (user and system, the child's and its
// waited-for children's), peak resident memory in MB; wall < 0 when it failed.
struct run_time
{
    double wall = -1;
    double cpu = -1;
    double peak_mb = 0;
};

// Runs job in a forked child; the child's exit status is job's result.
inline run_time time_in_child(const std::function<bool()> &job)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = job();
        std::fflush(stdout);
        std::_Exit(ok ? 0 : 1);
    }
    run_time t;
    if (child < 0) {
        return t;
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval &v) {
        return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) / 1e6;
    };
    t.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    t.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    t.wall = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? wall : -1;
    return t;
}

inline run_time time_command(const std::string &command)
{
    return time_in_child([&] { return std::system(command.c_str()) == 0; });
}

inline double median(std::vector<double> values)
{
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct contender
{
    contender(std::string n, std::function<run_time()> r) : name(std::move(n)), run(std::move(r))
    {
    }

    std::string name;
    std::function<run_time()> run;
    // Filled by alternate().
    std::vector<run_time> runs;

    bool all_ran() const
    {
        return !runs.empty() &&
               std::all_of(runs.begin(), runs.end(), [](const run_time &r) { return r.wall > 0; });
    }
    double wall() const { return median(pick(&run_time::wall)); }
    double cpu() const { return median(pick(&run_time::cpu)); }
    double peak_mb() const
    {
        auto p = pick(&run_time::peak_mb);
        return p.empty() ? 0 : *std::max_element(p.begin(), p.end());
    }

private:
    std::vector<double> pick(double run_time::*field) const
    {
        std::vector<double> out;
        for (const run_time &r : runs) {
            out.push_back(r.*field);
        }
        return out;
    }
};

// rounds rounds, each running every contender once in the given order; every
// run printed as it ends. Returns false when a run failed.
inline bool alternate(std::vector<contender> &contenders, int rounds)
{
    bool ok = true;
    for (int round = 1; round <= rounds; ++round) {
        for (contender &c : contenders) {
            run_time t = c.run();
            c.runs.push_back(t);
            ok = ok && t.wall > 0;
            std::printf("  round %d %-10s %8.2f s wall %8.2f s CPU\n", round, c.name.c_str(), t.wall,
                        t.cpu);
        }
    }
    return ok;
}

} // namespace korvel::bench
