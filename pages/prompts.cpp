#include "pages/prompts.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QStringList>
#include <QTranslator>

namespace prompts {

namespace {
struct State
{
    bool scripted = false;
    QQueue<bool> answers;
    QQueue<int> choices;
    QQueue<QStringList> fields;
    QQueue<QPair<QString, QString>> fileNames;
    QList<Record> records;
};
State &state()
{
    static State s;
    return s;
}
} // namespace

void about(QWidget *parent, const QString &title, const QString &text)
{
    if (state().scripted) {
        state().records << Record{Kind::About, title, text};
        return;
    }
    QMessageBox::about(parent, title, text);
}

QMessageBox *questionBox(QWidget *parent, const QString &title, const QString &text,
                         bool destructive)
{
    auto *box = new QMessageBox(QMessageBox::Question, title, text,
                                QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(destructive ? QMessageBox::No : QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    return box;
}

bool question(QWidget *parent, const QString &title, const QString &text, bool destructive)
{
    if (state().scripted) {
        state().records << Record{Kind::Question, title, text, destructive};
        return state().answers.isEmpty() ? false : state().answers.dequeue();
    }
    QScopedPointer<QMessageBox> box(questionBox(parent, title, text, destructive));
    return box->exec() == QMessageBox::Yes;
}

int choose(QWidget *parent, const QString &title, const QString &text, const QStringList &buttons,
           int defaultIndex, int escapeIndex)
{
    if (state().scripted) {
        state().records << Record{Kind::Choice, title,
                                  text + QLatin1Char('|') + buttons.join(QLatin1Char('/'))};
        return state().choices.isEmpty() ? escapeIndex : state().choices.dequeue();
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton *> made;
    for (int i = 0; i < buttons.size(); ++i)
        made << box.addButton(buttons[i],
                              i == escapeIndex ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    if (defaultIndex >= 0 && defaultIndex < made.size())
        box.setDefaultButton(qobject_cast<QPushButton *>(made[defaultIndex]));
    if (escapeIndex >= 0 && escapeIndex < made.size())
        box.setEscapeButton(made[escapeIndex]);
    box.exec();
    const int chosen = int(made.indexOf(box.clickedButton()));
    return chosen < 0 ? escapeIndex : chosen;
}

bool fields(QWidget *parent, const QString &title, const QString &text, const QStringList &labels,
            QStringList *values)
{
    while (values->size() < labels.size())
        *values << QString();
    if (state().scripted) {
        state().records << Record{Kind::Fields, title,
                                  text + QLatin1Char('|') + labels.join(QLatin1Char('/'))};
        if (state().fields.isEmpty())
            return true;
        const QStringList given = state().fields.dequeue();
        if (given.isEmpty())
            return false;
        for (int i = 0; i < labels.size(); ++i)
            (*values)[i] = given.value(i);
        return true;
    }
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto *form = new QFormLayout(&dialog);
    if (!text.isEmpty())
        form->addRow(new QLabel(text));
    QList<QLineEdit *> edits;
    for (int i = 0; i < labels.size(); ++i) {
        auto *edit = new QLineEdit(values->value(i));
        edit->setMinimumWidth(220);
        if (labels[i].contains(QStringLiteral("密码")))
            edit->setEchoMode(QLineEdit::Password);
        form->addRow(labels[i], edit);
        edits << edit;
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    for (int i = 0; i < edits.size(); ++i)
        (*values)[i] = edits[i]->echoMode() == QLineEdit::Password ? edits[i]->text()
                                                                   : edits[i]->text().trimmed();
    return true;
}

bool loadQtTranslations()
{
    static QTranslator *qt = nullptr;
    if (qt)
        return true;
    auto *translator = new QTranslator(QCoreApplication::instance());
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString dir = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), dir)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    qt = translator;
    return true;
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                     const QString &filter, QString *selectedFilter)
{
    if (state().scripted) {
        state().records << Record{Kind::SaveFile, caption, dir + QLatin1Char('|') + filter};
        if (state().fileNames.isEmpty())
            return QString();
        const QPair<QString, QString> answer = state().fileNames.dequeue();
        if (selectedFilter)
            *selectedFilter = answer.second.isEmpty() ? filter.section(QStringLiteral(";;"), 0, 0)
                                                      : answer.second;
        return answer.first;
    }
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, selectedFilter);
}

bool openUrl(const QUrl &url)
{
    if (state().scripted) {
        state().records << Record{Kind::OpenUrl, QString(), url.toString()};
        return true;
    }
    return QDesktopServices::openUrl(url);
}

void setScripted(bool scripted)
{
    state() = State{};
    state().scripted = scripted;
}

bool isScripted()
{
    return state().scripted;
}

void queueAnswer(bool yes)
{
    state().answers.enqueue(yes);
}

void queueChoice(int index)
{
    state().choices.enqueue(index);
}

void queueFields(const QStringList &values)
{
    state().fields.enqueue(values);
}

void dropQueuedAnswers()
{
    state().fields.clear();
    state().answers.clear();
    state().choices.clear();
    state().fileNames.clear();
}

void queueFileName(const QString &name, const QString &filter)
{
    state().fileNames.enqueue(qMakePair(name, filter));
}

QList<Record> records()
{
    return state().records;
}

QList<Record> recordsOf(Kind kind)
{
    QList<Record> out;
    for (const Record &r : state().records)
        if (r.kind == kind)
            out << r;
    return out;
}

void clearRecords()
{
    state().records.clear();
}

QStringList aboutTexts()
{
    QStringList out;
    for (const Record &r : recordsOf(Kind::About))
        out << r.title + QLatin1Char('|') + r.text;
    return out;
}

} // namespace prompts
