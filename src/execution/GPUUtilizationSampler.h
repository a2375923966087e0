#pragma once

#include "execution/RollingAverage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// Reads the GPU probe several times a second on a thread of its own and keeps
// a rolling average that the monitoring tick reads without ever waiting for a
// probe. A probe that finds no source is asked again only after
// `sourceRecheckInterval`: most machines have none, and looking for it
// several times a second would cost more than all the rest of the idle
// application. start, stop and updateWindow only queue their work and return.
class GPUUtilizationSampler {
public:
    using Probe = std::function<std::optional<double>()>;

    static constexpr std::chrono::milliseconds defaultSourceRecheckInterval = std::chrono::minutes(1);

    // The interval is raised to at least 0.05 s; the window holds
    // round(windowLength / interval) readings, at least 1.
    GPUUtilizationSampler(Probe probe, double interval, double windowLength,
                          std::chrono::milliseconds sourceRecheckInterval = defaultSourceRecheckInterval);
    ~GPUUtilizationSampler();
    GPUUtilizationSampler(const GPUUtilizationSampler &) = delete;
    GPUUtilizationSampler &operator=(const GPUUtilizationSampler &) = delete;

    // Takes a reading at once, then one every interval (or, while there is no
    // source, one every recheck interval). Does nothing while sampling.
    void start();
    void stop();
    // Resizes the window for averaging over `duration` seconds: a reading every
    // duration / 8 (kept within 0.05–0.25 s). The old average carries over as
    // the first value of the new window. Restarts the readings when sampling.
    void updateWindow(double duration);

    const Probe &probe() const { return m_probe; }
    // Records one reading taken elsewhere (the monitoring manager's first one).
    void addReading(double value);
    // The window's average once any reading has arrived, otherwise nothing.
    std::optional<double> currentAverage() const;
    RollingAverage window() const;
    double sampleInterval() const { return m_sampleInterval.load(); }

    // Blocks until every queued request has run. For shutdown and tests.
    void waitForIdle();

private:
    using Clock = std::chrono::steady_clock;

    void post(std::function<void()> job);
    void run();
    // False when the probe found no source.
    bool takeReading();
    void beginSampling();

    const Probe m_probe;
    const std::chrono::milliseconds m_sourceRecheckInterval;

    mutable std::mutex m_lock; // guards m_window and m_hasReported
    RollingAverage m_window;
    bool m_hasReported = false;

    // Touched only on the sampler thread (written there, read by anyone).
    std::atomic<double> m_sampleInterval;
    bool m_sampling = false;
    Clock::time_point m_nextReading;

    std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_quit = false;
    std::thread m_thread;
};
