#pragma once

#include <QAbstractAnimation>
#include <QCoroFuture>
#include <QCoroTask>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFuture>

#include <exception>
#include <optional>
#include <stdexcept>

// Runs the event loop until a coroutine or future finishes and returns its
// result, rethrowing its exception. Gives up after `timeoutMs` so a broken
// test fails instead of hanging.
namespace detail {
template <typename T>
QCoro::Task<> captureOutcome(QCoro::Task<T> task, std::optional<T> &result, std::exception_ptr &error, bool &done)
{
    try {
        result.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}

inline QCoro::Task<> captureOutcome(QCoro::Task<> task, std::exception_ptr &error, bool &done)
{
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}

inline void spinUntil(const bool &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done) {
        if (timer.elapsed() > timeoutMs)
            throw std::runtime_error("timed out waiting for an asynchronous result");
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
}
} // namespace detail

template <typename T>
T await(QCoro::Task<T> &&task, int timeoutMs = 60000)
{
    std::exception_ptr error;
    bool done = false;
    if constexpr (std::is_void_v<T>) {
        auto runner = detail::captureOutcome(std::move(task), error, done);
        detail::spinUntil(done, timeoutMs);
        if (error)
            std::rethrow_exception(error);
    } else {
        std::optional<T> result;
        auto runner = detail::captureOutcome(std::move(task), result, error, done);
        detail::spinUntil(done, timeoutMs);
        if (error)
            std::rethrow_exception(error);
        return std::move(*result);
    }
}

template <typename T>
T await(QFuture<T> future, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!future.isFinished()) {
        if (timer.elapsed() > timeoutMs)
            throw std::runtime_error("timed out waiting for a future");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if constexpr (std::is_void_v<T>)
        future.waitForFinished();
    else
        return future.result();
}

// Spins the event loop until `condition` holds or the time runs out.
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Whether every animation below `root` but those that loop for ever has come to rest: what a test waits
// for rather than an animation's length, whose last frame a busy machine delivers late.
inline bool animationsSettled(const QObject &root)
{
    for (const QAbstractAnimation *animation : root.findChildren<QAbstractAnimation *>())
        if (animation->state() == QAbstractAnimation::Running && animation->loopCount() != -1)
            return false;
    return true;
}
