#pragma once

// Where the templates of the documents and the custom report are found.

#include <QString>

namespace office {

// The template file `name`, looked for beside the program; empty when it is
// not there.
QString findTemplate(const QString &name);
// Where the template is expected (for the operator's messages).
QString expectedTemplatePath(const QString &name);

} // namespace office
