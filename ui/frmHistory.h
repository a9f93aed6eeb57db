#pragma once

#include "history/History.h"
#include "history/Jobs.h"
#include "ui/EventModel.h"
#include "ui/HistoryModel.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

class Prompts;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

// Every run the history holds, newest first, for the operator to look
// through, narrow down, export, and read a failed run's transcript of; or,
// chosen as "Events", the supervisor's actions and refusals.
// Modeless. Its History and Jobs are made and read on the window's own thread.
class frmHistory : public QWidget {
    Q_OBJECT
public:
    explicit frmHistory(Prompts& prompts, QWidget* parent = nullptr);
    ~frmHistory() override;

    // The history the operator chose in this window, empty for none; kept
    // in the user's settings (its password in the keyring), for the window
    // and the runs made beside it.
    static QString StoredLocation();

    QLineEdit* txtFilter;
    QCheckBox* chkFrom;
    QDateEdit* dtpFrom;
    QCheckBox* chkTo;
    QDateEdit* dtpTo;
    QComboBox* cboResult;
    QTableView* grdRuns;
    QLabel* lblSummary;
    QLineEdit* txtLocation;
    QPushButton* cmdApply;
    QPushButton* cmdExport;
    QPushButton* cmdClose;
    HistoryModel* Model;
    EventModel* Events;
    // The result choice that shows the supervisor's events instead of runs.
    static constexpr auto EventsChoice = "Events";

    // Records read at a time while exporting: a year of a factory's runs
    // never sits in memory whole.
    qint64 exportPage = 10000;

    // The last transcript shown, while its window is open.
    QPlainTextEdit* TranscriptView() const;

public slots:
    // Reads the history again with the filter as the controls now say.
    void Refresh();
    void cmdApply_Click();
    void cmdExport_Click();
    void grdRuns_DoubleClick(const QModelIndex& index);

private:
    HistoryFilter filter() const;
    bool showingEvents() const;
    void openHistory();
    bool madeOrThere(const QString& location);
    void unkept(const QString& why);

    Prompts& prompts_;
    std::unique_ptr<History> history_;
    std::unique_ptr<Jobs> jobs_;
    QString notice_; // what the history said of itself, kept in view
    QTimer typing_;  // a filter typed is read once the typing pauses
    QPointer<QPlainTextEdit> transcriptView_;
};
