#pragma once

#include <QCoroTask>
#include <QPointer>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

// What became of work a screen's flow awaited: the work's value when it
// succeeded; whether it failed; whether it was abandoned because the owner went
// away (or stopped wanting the result) meanwhile. Converts to true only for a
// value the flow may go on with: one that is there and not abandoned.
template <typename T>
struct Attempt {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    std::optional<Value> value;
    bool failed = false;
    bool abandoned = false;

    explicit operator bool() const { return value.has_value() && !abandoned; }
    Value &operator*() { return *value; }
    Value *operator->() { return &*value; }
};

// A result is wanted for as long as its owner lives, unless the flow says otherwise.
struct AlwaysWanted {
    bool operator()() const { return true; }
};

// The guarded block of every flow behind a screen's buttons: awaits `work()`,
// and when it throws hands the failure to `onFailure(std::exception_ptr)`. When
// `owner` was destroyed meanwhile, or `stillWanted()` is false (a selection that
// moved on), nothing is reported and the attempt is abandoned; `onFailure` and
// `stillWanted` run only while the owner lives, so they may use it. `work` is
// called inside the guard, so a throw before its first suspension counts too.
template <typename Owner, typename Work, typename OnFailure, typename StillWanted = AlwaysWanted>
auto attempt(Owner *owner, Work work, OnFailure onFailure, StillWanted stillWanted = {})
    -> QCoro::Task<Attempt<typename std::invoke_result_t<Work &>::value_type>>
{
    using T = typename std::invoke_result_t<Work &>::value_type;
    QPointer<Owner> guard(owner);
    Attempt<T> outcome;
    std::exception_ptr failure;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await work();
            outcome.value.emplace();
        } else {
            outcome.value.emplace(co_await work());
        }
    } catch (...) {
        failure = std::current_exception();
    }
    outcome.failed = failure != nullptr;
    if (!guard || !stillWanted()) {
        outcome.abandoned = true;
        co_return outcome;
    }
    if (failure)
        onFailure(failure);
    co_return outcome;
}
