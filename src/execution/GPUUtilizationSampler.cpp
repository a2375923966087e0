#include "execution/GPUUtilizationSampler.h"

#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cmath>
#include <future>

namespace {

constexpr double minimumInterval = 0.05;

qsizetype capacityFor(double duration, double interval)
{
    const double count = std::round(duration / interval);
    if (!(count >= 1))
        return 1;
    // A window longer than anyone could mean is kept to a sane size.
    return static_cast<qsizetype>(std::min(count, 1'000'000.0));
}

std::chrono::steady_clock::duration seconds(double value)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(value));
}

} // namespace

GPUUtilizationSampler::GPUUtilizationSampler(Probe probe, double interval, double windowLength,
                                             std::chrono::milliseconds sourceRecheckInterval)
    : m_probe(std::move(probe)),
      m_sourceRecheckInterval(sourceRecheckInterval),
      m_sampleInterval(std::max(interval, minimumInterval))
{
    m_window.capacity = capacityFor(windowLength, m_sampleInterval.load());
    m_thread = std::thread([this] { run(); });
}

GPUUtilizationSampler::~GPUUtilizationSampler()
{
    {
        const std::lock_guard guard(m_queueMutex);
        m_quit = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void GPUUtilizationSampler::start()
{
    post([this] {
        if (!m_sampling)
            beginSampling();
    });
}

void GPUUtilizationSampler::stop()
{
    post([this] { m_sampling = false; });
}

void GPUUtilizationSampler::updateWindow(double duration)
{
    post([this, duration] {
        const double interval = std::min(std::max(duration * 0.125, minimumInterval), 0.25);
        const qsizetype capacity = capacityFor(duration, interval);
        m_sampleInterval = interval;
        {
            const std::lock_guard guard(m_lock);
            RollingAverage window;
            window.capacity = capacity;
            if (m_hasReported) {
                if (const auto average = m_window.average())
                    window.add(*average);
            }
            m_window = std::move(window);
        }
        if (m_sampling)
            beginSampling();
    });
}

void GPUUtilizationSampler::addReading(double value)
{
    const std::lock_guard guard(m_lock);
    m_window.add(value);
    m_hasReported = true;
}

std::optional<double> GPUUtilizationSampler::currentAverage() const
{
    const std::lock_guard guard(m_lock);
    return m_hasReported ? m_window.average() : std::nullopt;
}

RollingAverage GPUUtilizationSampler::window() const
{
    const std::lock_guard guard(m_lock);
    return m_window;
}

void GPUUtilizationSampler::waitForIdle()
{
    std::promise<void> done;
    auto finished = done.get_future();
    post([&done] { done.set_value(); });
    finished.wait();
}

void GPUUtilizationSampler::post(std::function<void()> job)
{
    {
        const std::lock_guard guard(m_queueMutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

bool GPUUtilizationSampler::takeReading()
{
    // The probe runs outside the lock: a slow device never holds up the tick.
    const auto value = m_probe ? m_probe() : std::nullopt;
    if (value)
        addReading(*value);
    return value.has_value();
}

void GPUUtilizationSampler::beginSampling()
{
    const bool found = takeReading();
    m_sampling = true;
    m_nextReading = Clock::now() + (found ? seconds(m_sampleInterval.load()) : m_sourceRecheckInterval);
}

void GPUUtilizationSampler::run()
{
    makeCurrentThreadUtility("gpu-sampler");
    std::unique_lock lock(m_queueMutex);
    for (;;) {
        if (!m_jobs.empty()) {
            auto job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
            continue;
        }
        if (m_quit)
            return;
        if (!m_sampling) {
            m_wake.wait(lock);
            continue;
        }
        if (Clock::now() < m_nextReading) {
            m_wake.wait_until(lock, m_nextReading);
            continue;
        }
        lock.unlock();
        if (takeReading()) {
            // Keep the cadence; after a stall (suspend, overload) skip the
            // missed readings instead of firing them in a burst.
            const auto interval = seconds(m_sampleInterval.load());
            m_nextReading += interval;
            if (const auto now = Clock::now(); m_nextReading <= now)
                m_nextReading = now + interval;
        } else {
            m_nextReading = Clock::now() + m_sourceRecheckInterval;
        }
        lock.lock();
    }
}
