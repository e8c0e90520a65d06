#pragma once

#include <QWidget>

namespace Ui {
class about;
}

// Product name, version and the maker's contact lines, in a window of its own.
class about : public QWidget
{
    Q_OBJECT

public:
    explicit about(QWidget *parent = nullptr);
    ~about() override;
    // The database file named in the box.
    QString databaseText() const;

private:
    Ui::about *ui;
};
