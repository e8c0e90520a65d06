#pragma once

// A port wired straight to a simulated collector, without a pseudo-terminal:
// what the exchange writes reaches the simulator at once and its replies
// come back at once (or after the simulator's delays, on its clock). Tests of
// the run engine use it with a clock they advance, so a thousand ticks take
// milliseconds.

#include "link/port.h"
#include "sim/collectorsim.h"

#include <QPointer>
#include <functional>

namespace sim {

class DirectPort : public rtu::Port
{
    Q_OBJECT

public:
    // The collector behind the port of a name; null: no such port.
    using Resolver = std::function<CollectorSim *(const QString &name)>;
    explicit DirectPort(Resolver resolve, QObject *parent = nullptr);
    // A factory of such ports, for an exchange or a run.
    static rtu::PortFactory factory(Resolver resolve);
    bool open(const QString &name, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void write(const QByteArray &bytes) override;

private:
    Resolver m_resolve;
    QPointer<CollectorSim> m_collector;
    bool m_open = false;
};

} // namespace sim
