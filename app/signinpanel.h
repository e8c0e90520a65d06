#pragma once

// Who is at the window: over the whole window until an operator signs in
// (the pages under it go on: a run keeps recording). On a database without
// accounts it asks for the first 管理员 instead.

#include "storage/statements.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class SignInPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SignInPanel(QWidget *parent = nullptr);

    // Shows the panel: the first 管理员 when no account exists, otherwise a
    // sign-in with `lastName` offered; `why` says why it came ("已锁定").
    void ask(const QString &lastName, const QString &why);

signals:
    void signedIn(const storage::OperatorAccount &account);

private:
    void submit();

    QLabel *m_title = nullptr, *m_message = nullptr, *m_againLabel = nullptr;
    QComboBox *m_name = nullptr;
    QLineEdit *m_password = nullptr, *m_again = nullptr;
    QPushButton *m_button = nullptr;
    bool m_first = false;
};
