#pragma once

#include "results/chamber.h"

#include "pages/channels/channelplan.h"
#include "storage/statements.h"

#include <QWidget>
#include <memory>

namespace Ui {
class Form3;
}
namespace rtu {
class Exchange;
struct Reply;
}
class BusyGuard;

// The channel layouts of collector one and two: editing, batch setting and
// writing a layout into the collector, which stores it once it was accepted.
class Form3 : public QWidget
{
    Q_OBJECT

public:
    explicit Form3(QWidget *parent = nullptr);
    ~Form3() override;

    // The cell's text, or the current text of the combo box placed in it.
    QString cellText(int row, int column) const;
    // The table as it stands, one row per channel.
    storage::Rows tableRows() const;
    bool channelNumbersUnique() const;
    bool downloading() const { return m_downloading; }

public slots:
    void receivData(const QString &data1, const QString &data2, const QString &data3,
                    const QString &data4, const QString &data5, const QString &data6,
                    const QString &data7, const QString &data8, const QString &data9,
                    const QString &data10, const QString &data11, const QString &data12,
                    const QString &data13);

private slots:
    void on_lenum_textChanged(const QString &arg1);
    void on_pushButton_3_clicked(); // restore defaults
    void on_pushButton_5_clicked(); // switch device
    void on_twShow_cellDoubleClicked(int row, int column);
    void on_checkBox_stateChanged(int arg1);
    void on_pushButton_clicked();   // batch setting
    void on_pushButton_2_clicked(); // download
    void on_pushButton_6_clicked(); // refresh ports
    void on_pushButton_9_clicked(); // close
    void on_pushButton_stop_clicked();

private:
    storage::Device shownDevice() const;
    void rebuild(int rows);
    void load(storage::Device device);
    void setCell(int row, int column, const QString &text);
    void setEditing(bool enabled);
    void showCollector();
    // Where each channel's probe sits: the selected equipment's layout.
    void showLocations();
    void storeLocations();
    void editLocation(int row);
    QString locationText(const QString &name) const;
    QString locationOf(int row) const;
    // The download, one frame after the other's reply (or its time).
    void sendStep();
    void onStepReply(const rtu::Reply &reply);
    void finishDownload(bool cancelled);

    Ui::Form3 *ui;
    results::ChamberLayout m_layout;
    QList<int> m_batchRows;
    bool m_downloading = false;
    bool m_stopRequested = false; // the operator pressed 停止
    // What a download works on: a snapshot taken when it started.
    struct Download
    {
        std::unique_ptr<rtu::Exchange> exchange;
        std::unique_ptr<BusyGuard> guard;
        channels::Plan plan;
        storage::Rows rows;
        storage::Device device = storage::Device::A;
        QString port;
        int step = 0;
        bool accepted = true;
        QByteArray firstReply; // of the first frame, for the failure text
        QStringList unconfirmed;
    };
    std::unique_ptr<Download> m_download;
};
