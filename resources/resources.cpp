#include "resources/resources.h"

#include <QtGlobal>

void initOrvenImages()
{
    Q_INIT_RESOURCE(images);
}
