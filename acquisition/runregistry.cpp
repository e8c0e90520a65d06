#include "acquisition/runregistry.h"

#include <QSet>

namespace acquisition {

static QSet<const void *> &active()
{
    static QSet<const void *> owners;
    return owners;
}

void setRunActive(const void *owner, bool isActive)
{
    if (isActive)
        active().insert(owner);
    else
        active().remove(owner);
}

bool anyRunActive()
{
    return !active().isEmpty();
}

} // namespace acquisition
