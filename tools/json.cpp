#include "tools/json.h"

namespace json {

QString quote(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString textOrNull(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("null") : quote(text);
}

Object &Object::raw(const QString &key, const QString &json)
{
    m_parts << quote(key) + QStringLiteral(": ") + json;
    return *this;
}

QString Object::str() const
{
    return QLatin1Char('{') + m_parts.join(QStringLiteral(", ")) + QLatin1Char('}');
}

QString array(const QStringList &jsonItems)
{
    return QLatin1Char('[') + jsonItems.join(QStringLiteral(", ")) + QLatin1Char(']');
}

} // namespace json
