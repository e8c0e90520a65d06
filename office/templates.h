#pragma once

// Where the templates of the documents and the custom report are found.

#include <QString>

namespace office {

// The template file `name`: in $ORVEN_TEMPLATES, beside the program, in the
// user's data folder (the copy made for editing) and in the installed data
// folder, in that order; empty when it is nowhere.
QString findTemplate(const QString &name);
// Where the template is expected (for the operator's messages).
QString expectedTemplatePath(const QString &name);
// The installed data folder: $ORVEN_DATA_DIR, else share/orven next to the
// program's bin/.
QString installedDataFolder();
// The template to open for editing: one beside the program or in the user's
// data folder is edited where it is; an installed one (read-only, shared by
// every user) is first copied to the user's data folder, once. Empty when
// there is no template; `error` says why a copy failed.
QString editableTemplate(const QString &name, QString *error = nullptr);

} // namespace office
