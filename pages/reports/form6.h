#pragma once

#include "pages/reports/chamberview.h"

#include "base/task.h"
#include "office/documents.h"
#include "office/export.h"
#include "office/sources.h"
#include "results/loadjob.h"

#include <QWidget>
#include <memory>

namespace Ui {
class Form6;
}
class EvaluationView;
class SampleTableModel;
class QProgressDialog;

// The query page: lists the processed calibrations, loads the clicked one
// with its results, deletes one or all, and starts the exports.
class Form6 : public QWidget
{
    Q_OBJECT

public:
    explicit Form6(QWidget *parent = nullptr);
    ~Form6() override;

    bool isLoading() const;
    QString loadedKey() const { return m_loadedKey; }
    const SampleTableModel *sampleModel() const { return m_model; }
    const QVector<results::PointResult> &pointResults() const { return m_results; }
    EvaluationView *evaluationView() const { return m_view; }
    // The calibration as loaded; valid when a load finished.
    const results::Calibration *loadedCalibration() const;
    // An export is being written in the background.
    bool isExporting() const { return m_task != nullptr; }

signals:
    void loaded(); // a calibration and its results are shown

private slots:
    void on_tbnum_cellClicked(int row, int column);
    void on_pushButton_clicked();   // record
    void on_pushButton_2_clicked(); // certificate
    void on_pushButton_3_clicked(); // delete
    void on_pushButton_4_clicked(); // clear all
    void on_pushButton_5_clicked(); // close
    void on_pushButton_6_clicked(); // raw data
    void on_pushButton_7_clicked(); // open template
    void on_pushButton_8_clicked(); // custom report
    void on_pushButton_data_toggled(bool checked);
    void on_pushButton_cancel_clicked();
    void on_pushButton_standard_clicked(); // the standard certificate
    void on_pushButton_chamber_clicked();  // the chamber as a picture

public:
    ChamberView *chamberView() const { return m_chamber ? m_chamber->view() : nullptr; }
    void selectChannel(const QString &channel);

private:
    void showChamber();
    ChamberWindow *m_chamber = nullptr;
    void fillList();
    void resetTables();
    void stopLoading();
    void onBatch(const QVector<results::StoredSample> &batch);
    void onProgress(qint64 done, qint64 total);
    void onResults(const QVector<results::PointResult> &r);
    void onFinished(bool ok, const QString &error, bool cancelled);
    void showLoading(bool loading);
    bool hasSamples() const;
    // Ready for an export: loaded, with rows; says why not otherwise.
    bool readyToExport();
    // The records an export of the loaded calibration prints; says why not.
    bool readExportRecords(office::ExportRecords *out);
    bool adoptTodaysRecords(office::ExportRecords *records);
    void exportDocument(office::DocumentKind kind);
    // A certificate's standards out of date (into `problems`) are asked
    // about, No by default, ending with `question`. True to go on.
    bool standardsAccepted(const office::ExportRecords &records, const QString &dtbegin,
                           const QString &question, QStringList *problems = nullptr);
    // What a successful export says, with a note when the records used are
    // today's rather than those kept at processing.
    QString exportedText(const QString &text, const office::ExportRecords &records) const;
    // Runs `work` on a worker thread with a progress dialog that can cancel
    // it; `done` runs on success.
    void runTask(const QString &title, base::Task::Work work, std::function<void()> done);

    Ui::Form6 *ui;
    SampleTableModel *m_model;
    EvaluationView *m_view;
    std::unique_ptr<results::LoadJob> m_job;
    QStringList m_keys; // the full dtbegin of every listed calibration
    QString m_loadedKey;
    bool m_loadDone = false;
    bool m_loading = false; // from the start of a load to its finished signal
    QVector<results::PointResult> m_results;
    std::unique_ptr<base::Task> m_task;
    QProgressDialog *m_progress = nullptr;
};
