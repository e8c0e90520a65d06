#pragma once

// The outcome of anything that can fail: ok, or the reason in the operator's
// words. A Result carries the value as well. Both are made from what they
// hold:
//     return value;                      // a Result<T> that succeeded
//     return base::failure(reason);      // a Status or Result<T> that did not
//     return other.status();             // pass a failure on

#include <QString>
#include <utility>

namespace base {

// A reason, to make a failed Status or Result from.
struct Failure
{
    QString reason;
};
inline Failure failure(const QString &reason)
{
    return Failure{reason};
}

struct Status
{
    bool ok = true;
    QString error;

    Status() = default;
    Status(const Failure &f) : ok(false), error(f.reason) {}
    static Status failure(const QString &reason) { return Status(Failure{reason}); }
    explicit operator bool() const { return ok; }
};

template <typename T> struct Result
{
    bool ok = true;
    QString error;
    T value{};

    Result() = default;
    Result(const T &v) : value(v) {}
    Result(T &&v) : value(std::move(v)) {}
    Result(const Failure &f) : ok(false), error(f.reason) {}
    // A failed status passed on; an ok one gives a default value.
    static Result fromStatus(const Status &s) { return s ? Result() : Result(Failure{s.error}); }
    static Result failure(const QString &reason) { return Result(Failure{reason}); }
    explicit operator bool() const { return ok; }
    Status status() const { return ok ? Status() : Status(Failure{error}); }
};

} // namespace base
