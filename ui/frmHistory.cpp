#include "ui/frmHistory.h"

#include "core/PrivateFiles.h"
#include "core/Prompts.h"
#include "history/HistoryAddress.h"
#include "history/HistoryReport.h"
#include "look/Look.h"
#include "ui/HistorySetting.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int TypingPauseMs = 300;

// A day edit that stays out of the filter until its box is ticked.
QDateEdit* DayEdit(QCheckBox* enable, QWidget* parent) {
    auto* edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setEnabled(false);
    QObject::connect(enable, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    return edit;
}

// Where the day starts (or, with `end`, the next one starts) for the history,
// as the command line's --since and --until read a day.
QDateTime DayBound(const QDateEdit* edit, bool end) {
    return HistoryDate(edit->date().toString(Qt::ISODate), end).value_or(QDateTime());
}

} // namespace

// Laid out by its layouts (unlike the fixed small windows): the table grows
// with the window. It reads the history as it opens.
frmHistory::frmHistory(Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts) {
    setWindowTitle(QStringLiteral("History"));
    setFont(WindowFont());
    resize(900, 520);

    txtFilter = new QLineEdit(this);
    txtFilter->setPlaceholderText(QStringLiteral("serial, file, board, message..."));
    txtFilter->setClearButtonEnabled(true);
    chkFrom = new QCheckBox(QStringLiteral("From"), this);
    dtpFrom = DayEdit(chkFrom, this);
    chkTo = new QCheckBox(QStringLiteral("To"), this);
    dtpTo = DayEdit(chkTo, this);
    cboResult = new QComboBox(this);
    cboResult->addItem(QStringLiteral("All results"));
    cboResult->addItems(HistoryModel::ResultKeys());
    cboResult->insertSeparator(cboResult->count());
    cboResult->addItem(QString::fromLatin1(EventsChoice));
    auto* filters = new QHBoxLayout;
    filters->addWidget(PlainLabel(new QLabel(QStringLiteral("Filter:"), this)));
    filters->addWidget(txtFilter, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{chkFrom, dtpFrom, chkTo, dtpTo, cboResult})
        filters->addWidget(w);

    Model = new HistoryModel(this);
    Events = new EventModel(this);
    grdRuns = new QTableView(this);
    QFont plain = font();
    plain.setBold(false); // the window's own font is bold; a table of it tires
    grdRuns->setFont(plain);
    grdRuns->setModel(Model);
    grdRuns->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdRuns->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdRuns->setWordWrap(false);
    grdRuns->setAlternatingRowColors(true);
    grdRuns->verticalHeader()->hide();
    grdRuns->verticalHeader()->setDefaultSectionSize(grdRuns->fontMetrics().height() + 4);
    grdRuns->horizontalHeader()->setStretchLastSection(true);

    lblSummary = PlainLabel(new QLabel(this));
    txtLocation = new QLineEdit(this);
    cmdApply = new QPushButton(QStringLiteral("&Apply"), this);
    cmdExport = new QPushButton(QStringLiteral("&Export CSV..."), this);
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(PlainLabel(new QLabel(QStringLiteral("History:"), this)));
    bottom->addWidget(txtLocation, 1);
    bottom->addWidget(cmdApply);
    bottom->addSpacing(12);
    bottom->addWidget(cmdExport);
    bottom->addWidget(cmdClose);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(grdRuns, 1);
    layout->addWidget(lblSummary);
    layout->addLayout(bottom);

    typing_.setSingleShot(true);
    typing_.setInterval(TypingPauseMs);
    connect(&typing_, &QTimer::timeout, this, &frmHistory::Refresh);
    connect(txtFilter, &QLineEdit::textChanged, &typing_, qOverload<>(&QTimer::start));
    for (QCheckBox* box : {chkFrom, chkTo})
        connect(box, &QCheckBox::toggled, this, &frmHistory::Refresh);
    for (QDateEdit* edit : {dtpFrom, dtpTo})
        connect(edit, &QDateEdit::dateChanged, this, &frmHistory::Refresh);
    connect(cboResult, &QComboBox::currentIndexChanged, this, &frmHistory::Refresh);
    connect(grdRuns, &QTableView::doubleClicked, this, &frmHistory::grdRuns_DoubleClick);
    connect(txtLocation, &QLineEdit::returnPressed, this, &frmHistory::cmdApply_Click);
    connect(cmdApply, &QPushButton::clicked, this, &frmHistory::cmdApply_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmHistory::cmdExport_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    // A server's history waits for its password; a file's opens at once.
    openHistory();
    lblSummary->setText(QStringLiteral("Reading the password from the keyring..."));
    HistorySetting::Load(this, [this] {
        openHistory();
        Refresh();
        grdRuns->resizeColumnsToContents();
    });
}

// Declared here, where History is whole, for the unique_ptr's sake.
frmHistory::~frmHistory() = default;

// For a test to read what the operator would.
QPlainTextEdit* frmHistory::TranscriptView() const {
    return transcriptView_;
}

// Empty until the operator applies a location: then the one resolved as
// usual, with its password once the keyring gave it.
QString frmHistory::StoredLocation() {
    return HistorySetting::Location();
}

// The history is the window's own, made on its thread as its connections
// must be; the location shown is the one it resolved, its password masked.
void frmHistory::openHistory() {
    Model->Show(nullptr, {});
    Events->Show(nullptr, {});
    history_ = std::make_unique<History>(StoredLocation());
    jobs_ = std::make_unique<Jobs>(StoredLocation(), QStringLiteral("history window"));
    notice_.clear();
    txtLocation->setText(history_->Where());
}

// The controls as a filter; a day left unticked leaves that end open.
HistoryFilter frmHistory::filter() const {
    HistoryFilter f;
    f.text = txtFilter->text().trimmed();
    if (cboResult->currentIndex() > 0 && !showingEvents())
        f.result = cboResult->currentText();
    if (chkFrom->isChecked())
        f.since = DayBound(dtpFrom, false);
    if (chkTo->isChecked())
        f.until = DayBound(dtpTo, true);
    return f;
}

// The events are a choice of what to show, beside the results of runs.
bool frmHistory::showingEvents() const {
    return cboResult->currentText() == QLatin1String(EventsChoice);
}

// A history that cannot be read says why in the summary's place, in red.
void frmHistory::Refresh() {
    typing_.stop();
    const bool events = showingEvents();
    QAbstractItemModel* shown = events ? static_cast<QAbstractItemModel*>(Events) : Model;
    if (events)
        Events->Show(jobs_.get(), filter());
    else
        Model->Show(history_.get(), filter());
    if (grdRuns->model() != shown) {
        grdRuns->setModel(shown);
        grdRuns->resizeColumnsToContents();
        // Sized to their contents, the last column no longer reaches the
        // table's edge until the window is resized: stretched again now.
        grdRuns->horizontalHeader()->setStretchLastSection(false);
        grdRuns->horizontalHeader()->setStretchLastSection(true);
    }
    const bool failed = events ? Events->Failed() : Model->Failed();
    // The history says a notice once (read-only, a folder open to others);
    // the window keeps it in view for as long as it shows that history.
    if (const QString notice = history_->Notice(); !notice.isEmpty())
        notice_ = notice;
    const QString counted = events ? Events->Summary() : TodayLine(history_->Today());
    lblSummary->setText(failed              ? (events ? jobs_->Problem() : history_->Problem())
                        : notice_.isEmpty() ? counted
                                            : counted + QStringLiteral("; ") + notice_);
    SetForeColor(*lblSummary, failed ? Red : palette().color(QPalette::WindowText));
}

// Only a location the operator changed is stored: the one shown may be the
// default. A password left masked is the one in use.
void frmHistory::cmdApply_Click() {
    QString location = txtLocation->text().trimmed();
    if (location != history_->Where()) {
        if (PasswordOf(location) == PasswordMask)
            location = WithPassword(location, PasswordOf(StoredLocation()));
        if (!madeOrThere(location)) {
            txtLocation->setText(history_->Where());
            return;
        }
        HistorySetting::Store(location, this, [this](const QString& why) { unkept(why); });
        openHistory();
    }
    Refresh();
}

// A history is made only on purpose: a file that is not there is as often a
// mistyped name as a new history, and the command line refuses to read one.
bool frmHistory::madeOrThere(const QString& location) {
    const HistoryAddress address = ParseHistoryAddress(location);
    if (location.isEmpty() || address.kind != HistoryAddress::Kind::File ||
        QFileInfo::exists(address.path))
        return true;
    const QString path = QDir::toNativeSeparators(QFileInfo(address.path).absoluteFilePath());
    if (prompts_.MsgBox(MakeBox(QStringLiteral("%1 does not exist.\r\nCreate a new, empty "
                                               "history there?")
                                    .arg(path),
                                QStringLiteral("Quorvel Velloran"), BoxIcon::Question,
                                BoxButtons::CreateCancel, BoxAnswer::Cancel)) != BoxAnswer::Yes)
        return false;
    QString error;
    MakePrivateFolder(QFileInfo(path).absolutePath(), &error);
    if (error.isEmpty() && MakePrivateFile(path, &error))
        return true;
    Box box = MakeBox(QStringLiteral("Unable to Create the History"),
                      QStringLiteral("Quorvel Velloran"), BoxIcon::Exclamation);
    box.detail = error;
    prompts_.MsgBox(box);
    return false;
}

// Without a keyring the password serves until the tool closes; the operator
// learns where libpq itself would find it.
void frmHistory::unkept(const QString& why) {
    Box box = MakeBox(
        QStringLiteral("The password was not kept: no keyring took it. It is used until the "
                       "tool closes.\r\nTo keep it, put it in ~/.pgpass (or the file PGPASSFILE "
                       "names) as host:port:database:user:password, mode 0600, or in a libpq "
                       "service file, named here by service=NAME."),
        QStringLiteral("Quorvel Velloran"), BoxIcon::Information);
    box.detail = why;
    prompts_.MsgBoxLater(box, [](BoxAnswer) {});
}

// Every record the filter chooses, not just the rows read so far.
void frmHistory::cmdExport_Click() {
    const SaveFileRequest request{
        QStringLiteral("Export History"), QStringLiteral("CSV Files (*.csv) | *.csv"), {}};
    const auto write = [this](const QString& path, QString& error) {
        QSaveFile file(path);
        bool ok = OpenPrivate(file); // the records name boards, serials and operators
        // The events were read at once: the export is the rows shown.
        if (showingEvents()) {
            const QByteArray csv = EventsCsv(Events->Events());
            ok = ok && file.write(csv) == csv.size();
        }
        HistoryFilter f = Model->Filter();
        f.limit = exportPage;
        for (f.offset = 0; ok && !showingEvents(); f.offset += exportPage) {
            const std::vector<HistoryRecord> found = history_->Find(f);
            QByteArray csv = HistoryReport(found, HistoryFormat::Csv);
            if (f.offset > 0)
                csv.remove(0, csv.indexOf('\n') + 1); // the header, once
            ok = !HistoryModel::ReadFailed(*history_, found) && file.write(csv) == csv.size();
            if (qint64(found.size()) < exportPage)
                break;
        }
        if (ok && file.commit())
            return true;
        error = file.errorString().isEmpty() ? history_->Problem() : file.errorString();
        return false;
    };
    SaveStamped(prompts_, request, QDir::homePath(),
                showingEvents() ? QStringLiteral("velloran-events-%1.csv")
                                : QStringLiteral("velloran-history-%1.csv"),
                QStringLiteral("Unable to Export the History"), write);
}

// The list holds no transcripts (up to 64 KB each): the one asked for is read
// now, among the runs that started no later than it, found by its key.
void frmHistory::grdRuns_DoubleClick(const QModelIndex& index) {
    if (!index.isValid() || showingEvents())
        return;
    const HistoryRecord& run = Model->Record(index.row());
    HistoryFilter f = Model->Filter();
    const QDateTime after = run.started.addMSecs(1);
    if (!f.until.isValid() || after < f.until)
        f.until = after;
    f.limit = 20;
    f.transcripts = true;
    QString text;
    for (const HistoryRecord& found : history_->Find(f))
        if (found.uid == run.uid)
            text = QString::fromLatin1(found.transcript); // the line's bytes, as they were
    auto* view = new QPlainTextEdit(this);
    view->setWindowFlag(Qt::Window);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowTitle(QStringLiteral("Transcript: %1 %2 %3")
                             .arg(Model->index(index.row(), HistoryModel::Time).data().toString(),
                                  run.serial, run.result));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setPlaceholderText(QStringLiteral("No transcript: only a run that failed keeps one."));
    view->setPlainText(text);
    view->resize(820, 480);
    view->show();
    transcriptView_ = view;
}
