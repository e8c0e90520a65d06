#include "app/signinpanel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SignInPanel::SignInPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("signInPanel"));
    setAutoFillBackground(true);
    auto *box = new QWidget(this);
    box->setMaximumWidth(420);
    box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_title = new QLabel(box);
    m_title->setObjectName(QStringLiteral("label_signInTitle"));
    m_title->setStyleSheet(QStringLiteral("font-size: 16pt; font-weight: bold;"));
    m_name = new QComboBox(box);
    m_name->setObjectName(QStringLiteral("comboBox_operator"));
    m_name->setEditable(true);
    m_password = new QLineEdit(box);
    m_password->setObjectName(QStringLiteral("lineEdit_password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_again = new QLineEdit(box);
    m_again->setObjectName(QStringLiteral("lineEdit_passwordAgain"));
    m_again->setEchoMode(QLineEdit::Password);
    m_againLabel = new QLabel(QStringLiteral("再输一次"), box);
    m_message = new QLabel(box);
    m_message->setObjectName(QStringLiteral("label_signInMessage"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_button = new QPushButton(box);
    m_button->setObjectName(QStringLiteral("pushButton_signIn"));
    m_button->setDefault(true);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("操作员"), m_name);
    form->addRow(QStringLiteral("密码"), m_password);
    form->addRow(m_againLabel, m_again);
    auto *inner = new QVBoxLayout(box);
    inner->addWidget(m_title);
    inner->addLayout(form);
    inner->addWidget(m_message);
    inner->addWidget(m_button);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(box, 0, Qt::AlignCenter);
    connect(m_button, &QPushButton::clicked, this, &SignInPanel::submit);
    connect(m_password, &QLineEdit::returnPressed, this, &SignInPanel::submit);
    connect(m_again, &QLineEdit::returnPressed, this, &SignInPanel::submit);
}

void SignInPanel::ask(const QString &lastName, const QString &why)
{
    const base::Result<QList<storage::OperatorAccount>> accounts = storage::operatorAccounts();
    m_first = accounts && accounts.value.isEmpty();
    m_name->clear();
    if (accounts)
        for (const storage::OperatorAccount &a : accounts.value)
            m_name->addItem(a.name);
    m_name->setCurrentText(m_first ? QString() : lastName);
    m_title->setText(m_first ? QStringLiteral("建立第一个管理员账户") : QStringLiteral("登录"));
    m_button->setText(m_first ? QStringLiteral("建立并登录") : QStringLiteral("登录"));
    m_again->setVisible(m_first);
    m_againLabel->setVisible(m_first);
    m_password->clear();
    m_again->clear();
    m_message->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_message->setText(!accounts ? QStringLiteral("失败：") + accounts.error : why);
    show();
    raise();
    (m_name->currentText().isEmpty() ? static_cast<QWidget *>(m_name) : m_password)->setFocus();
}

void SignInPanel::submit()
{
    const QString name = m_name->currentText().trimmed();
    if (m_first) {
        if (m_password->text() != m_again->text()) {
            m_message->setText(QStringLiteral("两次输入的密码不一样"));
            return;
        }
        const base::Status added =
            storage::addOperatorAccount(name, {QStringLiteral("管理员")}, m_password->text());
        if (!added) {
            m_message->setText(QStringLiteral("失败：") + added.error);
            return;
        }
    }
    const base::Result<storage::OperatorAccount> account =
        storage::signIn(name, m_password->text());
    m_password->clear();
    m_again->clear();
    if (!account) {
        m_message->setText(account.error);
        return;
    }
    hide();
    emit signedIn(account.value);
}
