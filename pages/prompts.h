#pragma once

// Every message box, question, save dialog and "open in default application"
// of the program goes through here. Tests switch to scripted mode: answers
// come from a queue, every call is recorded and nothing blocks.

#include <QList>
#include <QString>
#include <QUrl>

class QMessageBox;
class QWidget;

namespace prompts {

void about(QWidget *parent, const QString &title, const QString &text);
// True when the operator answers Yes. A destructive question (one that
// deletes, clears, replaces or quits over unsaved work) takes Enter as No.
bool question(QWidget *parent, const QString &title, const QString &text,
              bool destructive = false);
// One of several answers: the index of the button chosen. `defaultIndex`
// takes Enter; `escapeIndex` takes Escape and closing the box.
int choose(QWidget *parent, const QString &title, const QString &text, const QStringList &buttons,
           int defaultIndex, int escapeIndex);
// A few lines of text to fill in: `values` holds the texts shown (one per
// label) and receives what was entered; false when the operator cancels.
// A label naming a password ("密码") hides what is typed.
bool fields(QWidget *parent, const QString &title, const QString &text, const QStringList &labels,
            QStringList *values);
// The question box as question() shows it (tests look at its buttons).
QMessageBox *questionBox(QWidget *parent, const QString &title, const QString &text,
                         bool destructive);

// Loads Qt's own Chinese translations (standard buttons read "是", "否",
// "确定"); false when they are not installed.
bool loadQtTranslations();
// `selectedFilter`, when given, receives the filter the operator chose.
QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                     const QString &filter, QString *selectedFilter = nullptr);
bool openUrl(const QUrl &url);

// ---- scripting ----
enum class Kind { About, Question, SaveFile, OpenUrl, Choice, Fields };
struct Record
{
    Kind kind;
    QString title;
    QString text;
    bool destructive = false; // questions: No is the default button
};

void setScripted(bool scripted); // also clears queues and records
bool isScripted();
void queueAnswer(bool yes); // next question; an empty queue answers No
void queueChoice(int index); // next choose(); an empty queue answers its escape index
// Next fields(): the texts entered; an empty list cancels. An empty queue
// takes the texts shown.
void queueFields(const QStringList &values);
// Drops every answer not taken yet (an action that ended before its dialog
// must not leave its answer to the next one).
void dropQueuedAnswers();
// Next save dialog; an empty queue answers "". `filter` is the chosen
// filter (default: the first of the dialog's filters).
void queueFileName(const QString &name, const QString &filter = QString());
QList<Record> records();
QList<Record> recordsOf(Kind kind);
void clearRecords();
// Texts of the information boxes shown so far, "title|text".
QStringList aboutTexts();

} // namespace prompts
