#include "sim/directport.h"

namespace sim {

DirectPort::DirectPort(Resolver resolve, QObject *parent)
    : rtu::Port(parent), m_resolve(std::move(resolve))
{
}

rtu::PortFactory DirectPort::factory(Resolver resolve)
{
    return [resolve] { return std::make_unique<DirectPort>(resolve); };
}

bool DirectPort::open(const QString &name, QString *error)
{
    m_name = name;
    m_collector = m_resolve ? m_resolve(name) : nullptr;
    if (!m_collector) {
        if (error)
            *error = QStringLiteral("串口 %1 不存在").arg(name);
        return false;
    }
    QPointer<DirectPort> self(this);
    m_collector->attach([self](const QByteArray &bytes) {
        if (self && self->m_open)
            emit self->received(bytes);
    });
    m_open = true;
    return true;
}

void DirectPort::close()
{
    if (!m_open)
        return;
    m_open = false;
    if (m_collector)
        m_collector->attach(nullptr);
}

void DirectPort::write(const QByteArray &bytes)
{
    if (m_open && m_collector)
        m_collector->receive(bytes);
}

} // namespace sim
