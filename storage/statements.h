#pragma once

#include <QHash>

// Every statement the program issues, with bound parameters, on the default
// connection. Each call reports whether it succeeded and the driver's reason.

#include "storage/records.h"

#include "storage/result.h"
#include <QDateTime>

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace storage {

enum class Device { A, B }; // collector one / collector two

// ---- shared selection (secdevice, envirdata) ----
Result<Selection> readSelection();
Status selectCollector(const QString &serial);
// Equipment name and the ambient values are written together or not at all.
Status selectEquipment(const QString &name, const QString &tem, const QString &hum);
Result<Ambient> readAmbient();

// Tells the program's windows that what a calibration's steps depend on
// changed: the selection, the laboratory, a layout, a processed calibration.
class Changes : public QObject
{
    Q_OBJECT

public:
    static Changes *instance();

signals:
    void changed();
};

// ---- collectors (datacollect) ----
Result<QList<Collector>> listCollectors();
Result<int> countCollectorsBySerial(const QString &serial);
// Removes every collector with the record's serial number and inserts the
// record, in one transaction.
Status replaceCollector(const Collector &collector);
Status insertCollector(const Collector &collector);
// Rows changed; 0 when the number matches no row (not a failure).
Result<int> updateCollector(const Collector &collector);
Result<int> deleteCollectorsBySerial(const QString &serial);
Status deleteAllCollectors();

// ---- equipment (equipdata) ----
Result<QList<Equipment>> listEquipment();
Status insertEquipment(const Equipment &equipment);
Result<int> countEquipmentByName(const QString &name);
// Removes every equipment of that name and inserts the record, in one transaction.
Status replaceEquipment(const Equipment &equipment);
// Counts of what the start panel marks done.
struct Progress
{
    bool company = false;
    QString collector; // selected collector's serial, when it is recorded
    QString collectorName;
    QString equipment; // selected equipment, when it is recorded
    bool layout = false;
    int processed = 0; // headers
};
Result<Progress> readProgress();
Result<int> updateEquipment(const Equipment &equipment); // key: the name
Result<int> deleteEquipmentByName(const QString &name);
Status deleteAllEquipment();
struct SetPoints
{
    QStringList tem, hum; // ten each, empty when the equipment is unknown
};
Result<SetPoints> equipmentSetPoints(const QString &name);
Result<QString> equipmentPointCount(const QString &name);
Result<QString> equipmentType(const QString &name);

// The whole record, an empty one when there is none.
Result<Equipment> equipmentRecord(const QString &name);
Result<Collector> collectorRecord(const QString &serial);
// A record's row with what is kept beside it, in one transaction: saved
// (inserted, or replacing the rows of its key), or modified (the rows
// changed; nothing is kept beside when none was).
Status saveCollector(const Collector &collector, const CollectorExtra &extra, bool replace);
Result<int> modifyCollector(const Collector &collector, const CollectorExtra &extra);
Status saveEquipment(const Equipment &equipment, const EquipmentExtra &extra, bool replace);
Result<int> modifyEquipment(const Equipment &equipment, const EquipmentExtra &extra);
// What is kept beside a collector's row; empty fields when nothing is.
Result<CollectorExtra> collectorExtra(const QString &serial);
Status saveCollectorExtra(const QString &serial, const CollectorExtra &extra);
// What is kept beside an equipment row; empty fields when nothing is.
Result<EquipmentExtra> equipmentExtra(const QString &name);
Status saveEquipmentExtra(const QString &name, const EquipmentExtra &extra);

// ---- channel layouts (deviceA, deviceB) ----
Result<QList<ChannelRow>> loadChannelTable(Device device);
// Rewrites the whole layout of one collector with its counts and kinds in
// one transaction; on failure the previous layout stays.
Status storeChannelLayout(Device device, const QList<ChannelRow> &rows, const QString &count,
                          const QString &road, const QString &kinds);

// ---- organisation (company) ----
Result<Company> readCompany(); // empty when none saved yet
// Delete + insert, one transaction; with the certificate number pattern
// when one is given.
Status saveCompany(const Company &company, const QString &certificatePattern = QString());

// ---- runs (data, datamark) ----
Status insertSample(const Sample &sample);
Result<int> countHeaders();
Result<bool> headerExists(const QString &dtbegin);
// The number of the first header with that dtbegin; empty when there is none.
Result<QString> headerNumber(const QString &dtbegin);
// On a server: the station of another station's calibration that began at
// `dtbegin` (calibrations are known by their beginning); empty when none.
Result<QString> otherStationAt(const QString &dtbegin);
Status insertHeader(const RunHeader &header);
// Removes every header with the same dtbegin and inserts `header`, atomically.
Status replaceHeader(const RunHeader &header);

// Every header, ordered by dtbegin (the run list of the query page).
Result<QList<RunHeader>> listHeaders();
// On a shared server: the station that recorded each calibration, by its
// dtbegin; empty for a database file (one station).
Result<QHash<QString, QString>> stationsOfCalibrations();
// The customer of each calibration's equipment (as its record says now), by
// the calibration's beginning.
Result<QHash<QString, QString>> customersOfCalibrations();
// The first header with that dtbegin.
Result<FoundHeader> readHeader(const QString &dtbegin);
// Removes every header with that dtbegin and, in the same transaction, the
// samples of their time window that no other header's window covers.
Result<int> deleteCalibration(const QString &dtbegin); // samples removed
// Removes every header and every sample.
Status clearCalibrations();
// Stores a processed calibration: its header (replacing one with the same
// dtbegin when `replace`) and the records its documents are written from,
// in one transaction.
Status storeCalibration(const RunHeader &header, const Snapshot &snapshot, bool replace);
// The records of the calibration as stored, and today's records when it
// has none (a calibration stored before they were kept).
Result<FoundSnapshot> snapshotOf(const QString &dtbegin);
// For a calibration processed before records were kept: keeps today's
// records of its equipment and `collectors` (collector one first) as its
// own from now on, with who chose so and when. Refused when it has some.
Result<Snapshot> adoptTodaysRecords(const QString &dtbegin, const QStringList &collectors,
                                    const QString &by);
// Where each channel of a collector's table sits in the working space
// (channel number → location name), kept with the station's channel tables.
Result<QMap<QString, QString>> channelLocations(Device device);
Status storeChannelLocations(Device device, const QMap<QString, QString> &locations);
// Today's records for a run of `equipment` with `collectors`.
Result<Snapshot> currentRecords(const QString &equipment, const QStringList &collectors);

// ---- the certificate register ----
struct Certificate
{
    QString number, dtbegin, issued, method, layout, lastPrint, files;
    int year = 0, seq = 0;
    int prints = 0; // 1: the first print; more: this is a copy
    // An amendment names the certificate it replaced; a replaced one names
    // its successor (and is no longer in force).
    QString replaces, replacedBy;
    QString fingerprint; // digest of everything its content was made from
    QString content;     // what was issued (JSON: issue date, window, signers, ...)
    bool isCopy() const { return prints > 1; }
};
// A document as issued, kept in the register.
struct IssuedFile
{
    QString name; // "docx" or "pdf"
    QByteArray bytes;
    QString sha256;
};
// "yyyy-nnnn" and the like: yyyy / yy the year, MM the month, a run of n the
// sequence with that many digits.
QString certificateNumber(const QString &pattern, const QDateTime &when, int sequence);
bool validCertificatePattern(const QString &pattern);
Result<QString> certificatePattern(); // the default when none is set
Status setCertificatePattern(const QString &pattern);
// What issuing would give now, taken by nobody (the document is written
// with it first): a copy (prints + 1) of the calibration's certificate in
// force when it was made from the same `fingerprint`; otherwise the next
// number of the pattern, replacing the one in force (an amendment) when
// there is one.
Result<Certificate> nextCertificate(const QString &dtbegin, const QString &method,
                                    const QString &layout, const QDateTime &when,
                                    const QString &fingerprint = QString(),
                                    const QString &content = QString());
// Takes what `planned` (from nextCertificate) says, with the written
// documents, in one transaction: a number is used up only by a document
// that exists. Refused when the register moved meanwhile (another station
// took that number, or amended the certificate).
Result<Certificate> issueCertificate(const Certificate &planned,
                                     const QList<IssuedFile> &files = {});
// The calibration's certificate in force (number empty when none).
Result<Certificate> certificateInForce(const QString &dtbegin);
// The documents kept for a certificate, as issued.
Result<QList<IssuedFile>> issuedFiles(const QString &number);
Result<QList<Certificate>> listCertificates(); // by number

// The evaluation settings kept with a calibration (JSON text); empty when
// none were stored.
Result<QString> evaluationSettings(const QString &dtbegin);
Status storeEvaluationSettings(const QString &dtbegin, const QString &settings);
// Samples of a window (test checks and small reads; bulk reads use SampleReader).
Result<QList<Sample>> samplesInWindow(const QString &from, const QString &to);

// The samples of a run that no header covers: those stored after the last
// processed calibration (a workstation that ended without "数据处理"), from
// the start of the last run at the first point, all of one equipment.
// Empty when there are none, or when they were set aside.
Result<QList<Sample>> unprocessedRun();
// Sets the unprocessed samples up to `through` aside: not offered again.
Status setAsideUnprocessed(const QString &through);
// The point the run page has just started ("检点2"): kept in orven_state
// for whoever follows the run (the simulated chamber moves to it).
Status notePointStarted(int point);

// The file of the default connection.
QString databasePath();

// ---- audit trail ----
// Every change of a record, run processed, calibration deleted and
// certificate issued is one row, appended in the transaction of the change:
// when, where, who, what, the object's state before and after, and a
// SHA-256 over all of it and the previous row's (a chain). Rows are never
// updated or deleted by the program.
struct AuditRow
{
    qint64 seq = 0; // 1, 2, … without gaps
    QString at, station, operatorName, action, object, before, after, prev, hash;
    QString digests; // "table=digest;…": the audited tables as this change left them
};
// ---- operators ----

// The roles an account may hold, in this order.
QStringList operatorRoles(); // 校准员, 核验员, 批准人, 管理员
struct OperatorAccount
{
    QString name;
    QStringList roles;
    bool hasRole(const QString &role) const { return roles.contains(role); }
};
Result<QList<OperatorAccount>> operatorAccounts();
// A new account (an audit row, without the password). Refused: an empty or
// taken name, no role or one not known, a password shorter than 6.
Status addOperatorAccount(const QString &name, const QStringList &roles, const QString &password);
// The account when the password is its own: signed in, named by the audit
// rows from now on ("登录"); otherwise "用户名或密码不对" ("登录被拒绝" in the
// trail, whichever of the two was wrong).
Result<OperatorAccount> signIn(const QString &name, const QString &password);
// Locking the window or switching the operator: a row, then nobody signed in.
Status signOut(const QString &why);

// An electronic signature: who, as what, when, and the digest of what was
// signed (the certificate's content).
struct Signature
{
    QString name, role, meaning, at, hash;
};
// What a role's signature means on a certificate: 校准, 核验, 批准.
QString signatureMeaning(const QString &role);
// `name` signs `hash` as `role` with the password at this moment (the role
// held); an audit row "电子签名" either way it goes.
Result<Signature> signAs(const QString &name, const QString &password, const QString &role,
                         const QString &hash, const QDateTime &at);

// Whether the window asks who is at it, and after how long idle it locks.
struct AccessSettings
{
    bool signInRequired = true;
    int idleMinutes = 15;
};
Result<AccessSettings> accessSettings();
Status saveAccessSettings(const AccessSettings &settings);

// Who the rows name: the signed-in operator, or the system's user.
QString auditOperator();
void setAuditOperator(const QString &name);
Status appendAudit(const QString &action, const QString &object, const QString &before = {},
                   const QString &after = {});
// Rows kept on the station while it ran on its copy (action "…（离线）"),
// appended to the server's trail in order; how many were.
Result<int> sendPendingAudit();
// The same from the event loop, `delayMs` from now; tried again every few
// seconds while the server is there and something could not go yet (a
// record locked by another session).
void sendPendingAuditSoon(int delayMs = 0);
// In order; `from`/`to` compare with the time ("yyyy-MM-dd HH:mm:ss"),
// `object` is a part of the object's name; empty: no filter.
Result<QList<AuditRow>> auditRows(const QString &from, const QString &to, const QString &object);
struct AuditCheck
{
    int rows = 0;
    qint64 firstBad = 0; // the first row found changed, removed or inserted
    QString reason;      // empty: the chain is whole
    bool whole() const { return reason.isEmpty(); }
    // As the operator reads it: "审计记录完整，N 条", or what is wrong.
    QString said() const
    {
        return whole() ? QStringLiteral("审计记录完整，%1 条").arg(rows)
                       : QStringLiteral("审计记录不完整：") + reason;
    }
};
Result<AuditCheck> verifyAudit();

} // namespace storage
