// Database file format and the statements of the shared selection and the
// organisation record.

#include "storage/database.h"
#include "tests/testkit.h"

using namespace testkit;

class StorageTest : public QObject
{
    Q_OBJECT

private slots:
    void newDatabaseHasTheNineTablesInOrder_data();
    void newDatabaseHasTheNineTablesInOrder();
    void newDatabaseHasTheTwoSingleRows();
    void existingDatabaseKeepsItsRows();
    void missingTableIsAddedWithoutTouchingOthers();
    void textsRoundTripThroughEveryWriter_data();
    void textsRoundTripThroughEveryWriter();
    void selectionWritersTouchOnlyTheirColumns();
    void failingCompanyInsertKeepsThePreviousRow();
    void unopenableDatabaseReportsItsReason();
    void layoutStoreIsAllOrNothing();
};

void StorageTest::newDatabaseHasTheNineTablesInOrder_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns");
    QTest::newRow("datacollect") << "datacollect"
                                 << QStringList{"num",       "name",       "type",
                                                "portnum",   "serialnum",  "zqtem",
                                                "zqhum",     "cltem",      "clhum",
                                                "zhengshu",  "temnosure",  "temnosurek",
                                                "humnosure", "humnosurek", "todata"};
    QStringList equip{"name",   "companyname",     "address",  "type",
                      "model",  "equipmodel",      "listnum",  "temnum",
                      "humnum", "madecompanyname", "madedate", "temdown",
                      "temup",  "humdown",         "humup",    "adjustnum"};
    for (int i = 1; i <= 10; ++i)
        equip << QStringLiteral("tem%1").arg(i);
    for (int i = 1; i <= 10; ++i)
        equip << QStringLiteral("hum%1").arg(i);
    QTest::newRow("equipdata") << "equipdata" << equip;
    QTest::newRow("envirdata") << "envirdata" << QStringList{"tem", "hum"};
    const QStringList device{"num",   "headtype", "chantype", "wiring", "mxm",
                             "mxb",   "r0",       "compmode", "cjtemp", "coefa",
                             "coefb", "coefc",    "coefa4",   "coefb4"};
    QTest::newRow("deviceA") << "deviceA" << device;
    QTest::newRow("deviceB") << "deviceB" << device;
    QTest::newRow("company") << "company" << QStringList{"unitname", "tel",     "fax",   "address",
                                                         "yzbm",     "website", "place", "booknum"};
    QTest::newRow("datamark") << "datamark"
                              << QStringList{"num",       "dtbegin",   "dtend",   "pointnum",
                                             "temset",    "humset",    "kindsA",  "kindsB",
                                             "collector", "equipname", "channum", "samplenum",
                                             "chanlist",  "envtem",    "envhum",  "equiptype",
                                             "typesA",    "typesB"};
    QTest::newRow("data") << "data"
                          << QStringList{"equipname", "jdnum", "coltime", "colname", "coldata"};
}

void StorageTest::newDatabaseHasTheNineTablesInOrder()
{
    QFETCH(QString, table);
    QFETCH(QStringList, columns);
    TempDatabase db;
    QVERIFY(db.ok());
    if (!onServer()) {
        QCOMPARE(columnsOf(table), columns);
        return;
    }
    // On a server the same columns (as it spells names), then the station's.
    QStringList lower;
    for (const QString &c : columns)
        lower << c.toLower();
    QCOMPARE(columnsOf(table).mid(0, columns.size()), lower);
}

void StorageTest::newDatabaseHasTheTwoSingleRows()
{
    TempDatabase db;
    QVERIFY(db.ok());
    QCOMPARE(rows("select count(*) from secdevice").value(0).value(0), QString("1"));
    QCOMPARE(rows("select * from envirdata"), (storage::Rows{{"25", "60"}}));
    const QStringList sec = columnsOf("secdevice");
    for (const char *c : {"datacollect", "equipdata", "secA", "roadA", "roadtypeA", "secB", "roadB",
                          "roadtypeB", "comnum"})
        QVERIFY2(sec.contains(QLatin1String(c), Qt::CaseInsensitive), c);
    // Reopening does not add a second row.
    QVERIFY(storage::openDatabase(db.path()).ok);
    QCOMPARE(rows("select count(*) from secdevice").value(0).value(0), QString("1"));
    QCOMPARE(rows("select count(*) from envirdata").value(0).value(0), QString("1"));
}

void StorageTest::existingDatabaseKeepsItsRows()
{
    TempDatabase db;
    QVERIFY(sql("update envirdata set tem='18.5',hum='40'"));
    QVERIFY(sql("update secdevice set datacollect='SN1',comnum='COM3'"));
    QVERIFY(sql("insert into data values('E','检点1','2024-05-01 10:00:00','101;','25.000;')"));
    storage::closeDatabase();
    QVERIFY(storage::openDatabase(db.path()).ok);
    QCOMPARE(rows("select * from envirdata"), (storage::Rows{{"18.5", "40"}}));
    QCOMPARE(rows("select datacollect,comnum from secdevice"), (storage::Rows{{"SN1", "COM3"}}));
    QCOMPARE(rows("select count(*) from data").value(0).value(0), QString("1"));
}

void StorageTest::missingTableIsAddedWithoutTouchingOthers()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/ORVDB.db3";
    {
        // A delivered file with only a few tables, one holding a row.
        QVERIFY(storage::openDatabase(path).ok);
        QVERIFY(sql("drop table company"));
        QVERIFY(sql("insert into equipdata (name) values ('kept')"));
        storage::closeDatabase();
    }
    QVERIFY(storage::openDatabase(path).ok);
    QCOMPARE(columnsOf("company").size(), 8);
    QCOMPARE(rows("select name from equipdata"), (storage::Rows{{"kept"}}));
    storage::closeDatabase();
}

void StorageTest::textsRoundTripThroughEveryWriter_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("quote") << "O'Brien";
    QTest::newRow("quotes and percent") << "50% 'a''b'";
    QTest::newRow("semicolon and sql") << "x'; drop table data; --";
    QTest::newRow("chinese") << "北京市计量检测研究院";
}

void StorageTest::textsRoundTripThroughEveryWriter()
{
    QFETCH(QString, text);
    TempDatabase db;

    QVERIFY(storage::selectCollector(text).ok);
    QVERIFY(storage::selectEquipment(text, text, text).ok);
    const auto sel = storage::readSelection();
    QVERIFY(sel.ok);
    QCOMPARE(sel.value.datacollect, text);
    QCOMPARE(sel.value.equipdata, text);
    const auto amb = storage::readAmbient();
    QCOMPARE(amb.value.tem, text);
    QCOMPARE(amb.value.hum, text);

    storage::Row company;
    for (int i = 0; i < storage::Company::kColumns; ++i)
        company << text + QString::number(i);
    QVERIFY(storage::saveCompany(storage::Company::fromRow(company)).ok);
    QCOMPARE(storage::readCompany().value.toRow(), company);

    storage::Row channel;
    for (int i = 0; i < storage::ChannelRow::kColumns; ++i)
        channel << text;
    QVERIFY(storage::storeChannelLayout(storage::Device::B, channelRecords({channel}), text, text, text).ok);
    QCOMPARE(channelTable(storage::Device::B), storage::Rows{channel});
    const auto sel2 = storage::readSelection();
    QCOMPARE(sel2.value.secB, text);
    QCOMPARE(sel2.value.roadB, text);
    QCOMPARE(sel2.value.roadtypeB, text);
    QCOMPARE(rows("select count(*) from data").value(0).value(0), QString("0"));
}

void StorageTest::selectionWritersTouchOnlyTheirColumns()
{
    TempDatabase db;
    QVERIFY(storage::storeChannelLayout(storage::Device::A, {}, "2", "2;0;0;", "00").ok);
    QVERIFY(storage::selectCollector("SN-1").ok);
    QVERIFY(storage::selectEquipment("Chamber", "21", "45").ok);
    QVERIFY(storage::storeChannelLayout(storage::Device::B, {}, "3", "1;1;1;", "010").ok);
    const storage::Selection s = storage::readSelection().value;
    QCOMPARE(s.datacollect, QString("SN-1"));
    QCOMPARE(s.equipdata, QString("Chamber"));
    QCOMPARE(s.secA, QString("2"));
    QCOMPARE(s.roadA, QString("2;0;0;"));
    QCOMPARE(s.roadtypeA, QString("00"));
    QCOMPARE(s.secB, QString("3"));
    QCOMPARE(s.roadtypeB, QString("010"));
    QCOMPARE(storage::readAmbient().value.tem, QString("21"));
}

void StorageTest::failingCompanyInsertKeepsThePreviousRow()
{
    TempDatabase db;
    const storage::Row first{"Lab", "1", "2", "3", "4", "5", "6", "7"};
    QVERIFY(storage::saveCompany(storage::Company::fromRow(first)).ok);
    QVERIFY(refuseWrites("no_company", "insert", "company"));
    const base::Status st = storage::saveCompany(storage::Company{"Other", "", "", "", "", "", "", ""});
    QVERIFY(!st.ok);
    QVERIFY2(st.error.contains("refused by the test"), qPrintable(st.error));
    QCOMPARE(rows("select * from company"), storage::Rows{first});
}

void StorageTest::unopenableDatabaseReportsItsReason()
{
    QTemporaryDir dir;
    // A file that is not a database.
    const QString path = dir.path() + "/ORVDB.db3";
    QFile junk(path);
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    const base::Status st = storage::openDatabase(path);
    QVERIFY(!st.ok);
    QVERIFY(!st.error.isEmpty());
    // Statements then fail with a reason instead of crashing.
    const auto sel = storage::readSelection();
    QVERIFY(!sel.ok);
    QVERIFY(!sel.error.isEmpty());
    storage::closeDatabase();

    const base::Status missingDir = storage::openDatabase(dir.path() + "/no/such/ORVDB.db3");
    QVERIFY(!missingDir.ok);
    storage::closeDatabase();
}

void StorageTest::layoutStoreIsAllOrNothing()
{
    TempDatabase db;
    const storage::Row row{"101", "铂电阻", "PT100-385", "四线制", "1", "0", "100",
                           "",    "",       "",          "",       "",  "",  ""};
    QVERIFY(storage::storeChannelLayout(storage::Device::A, channelRecords({row}), "1", "1;0;0;", "0").ok);
    QVERIFY(refuseWrites("no_kinds", "update of roadtypeA", "secdevice"));
    storage::Row other = row;
    other[0] = "102";
    QVERIFY(!storage::storeChannelLayout(storage::Device::A, channelRecords({other, row}), "2", "2;0;0;", "00").ok);
    QCOMPARE(channelTable(storage::Device::A), storage::Rows{row});
    QCOMPARE(storage::readSelection().value.secA, QString("1"));
}

QTEST_GUILESS_MAIN(StorageTest)
#include "tst_storage.moc"
