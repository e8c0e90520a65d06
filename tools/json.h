#pragma once

// A small JSON writer that keeps keys in the order they are added (scripts
// and people read the output; the key order follows the documentation).

#include <QString>
#include <QStringList>

namespace json {

QString quote(const QString &text);
// A JSON string, or null for an empty text ("no value").
QString textOrNull(const QString &text);

class Object
{
public:
    Object &raw(const QString &key, const QString &json);
    Object &text(const QString &key, const QString &value) { return raw(key, quote(value)); }
    Object &number(const QString &key, qint64 value) { return raw(key, QString::number(value)); }
    QString str() const;

private:
    QStringList m_parts;
};

QString array(const QStringList &jsonItems);

} // namespace json
