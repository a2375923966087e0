#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <exception>
#include <memory>
#include <type_traits>

// Runs one request at a time on a thread of its own, in submission order.
// Each request's outcome (value or exception, with its exact type) arrives
// through the returned future, which a coroutine on the main thread awaits.
class SerialExecutor {
public:
    SerialExecutor()
    {
        m_pool.setMaxThreadCount(1);
        m_pool.setExpiryTimeout(-1);
    }
    ~SerialExecutor() { m_pool.waitForDone(); }
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    template <typename Function>
    auto run(Function function) -> QFuture<std::invoke_result_t<Function>>
    {
        using Result = std::invoke_result_t<Function>;
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        promise->start();
        m_pool.start([promise, function = std::move(function)]() mutable {
            try {
                if constexpr (std::is_void_v<Result>) {
                    function();
                } else {
                    promise->addResult(function());
                }
            } catch (...) {
                promise->setException(std::current_exception());
            }
            promise->finish();
        });
        return future;
    }

    // Blocks until every submitted request has run. For shutdown and tests.
    void waitForIdle() { m_pool.waitForDone(); }

private:
    QThreadPool m_pool;
};
