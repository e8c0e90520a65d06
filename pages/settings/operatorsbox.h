#pragma once

// The laboratory's operators and its sign-in, on the laboratory page: whether
// the window asks who is at it (and certificates are signed electronically),
// after how many idle minutes it locks, the accounts and a new one. Changes
// need a 管理员 signed in where sign-in is required.

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class OperatorsBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit OperatorsBox(QWidget *parent = nullptr);

private:
    void load();
    void saveAccess();
    void addOperator();

    QCheckBox *m_signIn = nullptr;
    QSpinBox *m_idle = nullptr;
    QLabel *m_accounts = nullptr;
    QLineEdit *m_name = nullptr, *m_password = nullptr;
    QList<QCheckBox *> m_roles;
};
