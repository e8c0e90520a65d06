#include "pages/settings/operatorsbox.h"

#include "pages/pagekit.h"
#include "pages/prompts.h"
#include "storage/statements.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

OperatorsBox::OperatorsBox(QWidget *parent) : QGroupBox(QStringLiteral("操作员与登录"), parent)
{
    setObjectName(QStringLiteral("groupBox_operators"));
    m_signIn = new QCheckBox(QStringLiteral("需要登录（操作员、电子签名）"), this);
    m_signIn->setObjectName(QStringLiteral("checkBox_signIn"));
    m_idle = new QSpinBox(this);
    m_idle->setObjectName(QStringLiteral("spinBox_idle"));
    m_idle->setRange(1, 24 * 60);
    m_idle->setSuffix(QStringLiteral(" 分钟"));
    auto *saveAccess = new QPushButton(QStringLiteral("保存登录设置"), this);
    saveAccess->setObjectName(QStringLiteral("pushButton_access"));
    m_accounts = new QLabel(this);
    m_accounts->setObjectName(QStringLiteral("label_operators"));
    m_accounts->setWordWrap(true);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("lineEdit_newOperator"));
    m_name->setPlaceholderText(QStringLiteral("新操作员"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("lineEdit_newPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("密码（至少 6 个字符）"));
    auto *add = new QPushButton(QStringLiteral("新增操作员"), this);
    add->setObjectName(QStringLiteral("pushButton_addOperator"));
    auto *roles = new QHBoxLayout;
    const QStringList names = storage::operatorRoles();
    for (int i = 0; i < names.size(); ++i) {
        auto *box = new QCheckBox(names[i], this);
        box->setObjectName(QStringLiteral("checkBox_role%1").arg(i));
        roles->addWidget(box);
        m_roles << box;
    }
    auto *grid = new QGridLayout(this);
    grid->addWidget(m_signIn, 0, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("空闲后锁定"), this), 0, 2);
    grid->addWidget(m_idle, 0, 3);
    grid->addWidget(saveAccess, 0, 4);
    grid->addWidget(m_accounts, 1, 0, 1, 5);
    grid->addWidget(m_name, 2, 0);
    grid->addLayout(roles, 2, 1, 1, 2);
    grid->addWidget(m_password, 2, 3);
    grid->addWidget(add, 2, 4);
    connect(saveAccess, &QPushButton::clicked, this, &OperatorsBox::saveAccess);
    connect(add, &QPushButton::clicked, this, &OperatorsBox::addOperator);
    load();
}

void OperatorsBox::load()
{
    const base::Result<storage::AccessSettings> access = storage::accessSettings();
    if (access) {
        m_signIn->setChecked(access.value.signInRequired);
        m_idle->setValue(access.value.idleMinutes);
    }
    const base::Result<QList<storage::OperatorAccount>> accounts = storage::operatorAccounts();
    QStringList shown;
    if (accounts)
        for (const storage::OperatorAccount &a : accounts.value)
            shown << QStringLiteral("%1（%2）").arg(a.name, a.roles.join(QStringLiteral("、")));
    m_accounts->setText(!accounts ? QStringLiteral("失败：") + accounts.error
                        : shown.isEmpty()
                            ? QStringLiteral("还没有操作员")
                            : QStringLiteral("操作员：") + shown.join(QStringLiteral("；")));
}

void OperatorsBox::saveAccess()
{
    const base::Status st = storage::saveAccessSettings({m_signIn->isChecked(), m_idle->value()});
    if (!st) {
        pagekit::reportFailure(this, QStringLiteral("保存失败"), st.error);
        load();
        return;
    }
    prompts::about(this, QStringLiteral("提示"),
                   QStringLiteral("已保存（窗口的登录与锁定在下次启动时生效）"));
}

void OperatorsBox::addOperator()
{
    QStringList roles;
    for (QCheckBox *box : m_roles)
        if (box->isChecked())
            roles << box->text();
    const base::Status st = storage::addOperatorAccount(m_name->text(), roles, m_password->text());
    m_password->clear();
    if (!st) {
        pagekit::reportFailure(this, QStringLiteral("新增操作员失败"), st.error);
        return;
    }
    m_name->clear();
    for (QCheckBox *box : m_roles)
        box->setChecked(false);
    load();
    prompts::about(this, QStringLiteral("提示"), QStringLiteral("已新增操作员"));
}
