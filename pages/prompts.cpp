#include "pages/prompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QQueue>
#include <QStringList>

namespace prompts {

namespace {
struct State
{
    bool scripted = false;
    QQueue<bool> answers;
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

bool question(QWidget *parent, const QString &title, const QString &text)
{
    if (state().scripted) {
        state().records << Record{Kind::Question, title, text};
        return state().answers.isEmpty() ? false : state().answers.dequeue();
    }
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
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
