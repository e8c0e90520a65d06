#pragma once

#include <QString>

namespace storage {

// Outcome of one storage call: every statement's result reaches the caller.
struct Status
{
    bool ok = true;
    QString error;

    static Status failure(const QString &reason) { return Status{false, reason}; }
    explicit operator bool() const { return ok; }
};

template <typename T> struct Result
{
    bool ok = true;
    QString error;
    T value{};

    static Result failure(const QString &reason)
    {
        Result r;
        r.ok = false;
        r.error = reason;
        return r;
    }
    explicit operator bool() const { return ok; }
    Status status() const { return Status{ok, error}; }
};

} // namespace storage
