#include "dialogs/frmSupervisor.h"

#include "core/Text.h"
#include "look/Look.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Typed, never shown, never offered to a clipboard.
QLineEdit* Secret(const char* name) {
    auto* edit = Named(new QLineEdit, name);
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

} // namespace

// The supervisor's name goes into the event; on a server it is the login.
frmSupervisor::frmSupervisor(const SupervisorAsk& ask, QWidget* parent)
    : QDialog(parent), ask_(ask) {
    setWindowTitle(QStringLiteral("Quorvel Velloran - Supervisor"));
    setFont(WindowFont());
    auto* form = new QFormLayout(this);
    auto* what = PlainLabel(new QLabel(ask.what));
    what->setWordWrap(true);
    form->addRow(what);
    if (!ask.jobs.isEmpty()) {
        cboJob = Named(new QComboBox, "job");
        cboJob->addItems(ask.jobs);
        cboJob->setCurrentIndex(int(ask.jobs.size()) - 1); // the newest
        form->addRow(QStringLiteral("&Job:"), cboJob);
    } else if (ask.typedName) {
        txtName = Named(new QLineEdit, "jobName");
        txtName->setPlaceholderText(QStringLiteral("MODEM-6620 2.4.1"));
        form->addRow(QStringLiteral("Job &name:"), txtName);
        connect(txtName, &QLineEdit::textChanged, this, &frmSupervisor::check);
    }
    txtUser = Named(new QLineEdit, "supervisor");
    form->addRow(ask.server ? QStringLiteral("Database &login:") : QStringLiteral("&Supervisor:"),
                 txtUser);
    txtPassword = Secret("password");
    form->addRow(ask.firstUse ? QStringLiteral("New &password:") : QStringLiteral("&Password:"),
                 txtPassword);
    connect(txtPassword, &QLineEdit::textChanged, this, &frmSupervisor::check);
    connect(txtUser, &QLineEdit::textChanged, this, &frmSupervisor::check);
    if (ask.firstUse && !ask.server) {
        txtAgain = Secret("passwordAgain");
        form->addRow(QStringLiteral("The same &again:"), txtAgain);
        connect(txtAgain, &QLineEdit::textChanged, this, &frmSupervisor::check);
    }
    lblWhy = Named(PlainLabel(new QLabel), "why");
    form->addRow(lblWhy);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    check();
}

// OK only once the answer can be tried: a new password is long enough and
// typed the same twice, so that a slip does not become the password.
void frmSupervisor::check() {
    QString why;
    if (txtName && txtName->text().trimmed().isEmpty())
        why = QStringLiteral("Name the job");
    else if (txtAgain && txtPassword->text().size() < Jobs::ShortestPassword)
        why = QStringLiteral("At least %1 characters").arg(Jobs::ShortestPassword);
    else if (txtAgain && txtAgain->text() != txtPassword->text())
        why = QStringLiteral("The two passwords differ");
    else if (!ask_.server && txtUser->text().trimmed().isEmpty())
        why = QStringLiteral("Type the supervisor's name, for the history's events");
    else if (!ask_.server && txtPassword->text().isEmpty())
        why = QStringLiteral("Type the supervisor's password");
    lblWhy->setText(why);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(why.isEmpty());
}

// The name as typed, less the blanks a slip adds; the password exactly.
SupervisorReply frmSupervisor::Reply() const {
    const QString job = cboJob ? cboJob->currentText() : txtName ? txtName->text().trimmed() : "";
    return {job, {txtUser->text().trimmed(), txtPassword->text()}};
}

// The dialog goes with its answer taken: nothing of it stays behind.
std::optional<SupervisorReply> frmSupervisor::Ask(const SupervisorAsk& ask, QWidget* parent) {
    frmSupervisor dialog(ask, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Reply();
}

// The jobs in use are offered newest last; an unlock names the job it ends.
std::optional<SupervisorWord> LockWord(bool locking, const JobsAtHand& hand, const QString& job,
                                       const SupervisorAsker& ask, QWidget* parent, QString& why) {
    if (locking && hand.jobs.isEmpty()) {
        why = QStringLiteral("Not locked: %1")
                  .arg(hand.problem.isEmpty()
                           ? QStringLiteral("no approved job is in use (File > Publish as Job)")
                           : hand.problem);
        return std::nullopt;
    }
    const SupervisorAsk question{
        locking ? QStringLiteral("Lock the station to an approved job: every row and the main "
                                 "window then run its bytes, baud rate and mode only.")
                : QStringLiteral("Unlock the station from the job %1? The main window's load "
                                 "file, baud rate and mode then apply.")
                      .arg(Printable(job, Unprintable::Escaped, true)),
        locking ? hand.jobs : QStringList(), false, hand.server, !hand.supervisorSet};
    const auto reply = ask ? ask(question) : frmSupervisor::Ask(question, parent);
    if (!reply)
        return std::nullopt;
    return SupervisorWord{{},
                          {},
                          locking ? QStringLiteral("lock") : QStringLiteral("unlock"),
                          locking ? reply->job : job,
                          reply->login,
                          question.firstUse};
}
