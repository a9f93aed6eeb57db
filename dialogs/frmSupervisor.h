#pragma once

#include "station/StationJob.h"

#include <QDialog>
#include <QStringList>
#include <functional>
#include <optional>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

// What a supervisor is asked for: the action in a sentence; a job to pick
// from `jobs`, or a name to type (`typedName`), or neither; and whether a
// server's login (user and password), a new password typed twice (a
// SQLite history's first) or the password kept answers.
struct SupervisorAsk {
    QString what;
    QStringList jobs;
    bool typedName = false;
    bool server = false;
    bool firstUse = false;
};

// What the supervisor answered: the job and who they are, for that one
// action only.
struct SupervisorReply {
    QString job;
    SupervisorLogin login;
};

// Who answers in a window's place: a test, without a modal.
using SupervisorAsker = std::function<std::optional<SupervisorReply>(const SupervisorAsk&)>;

// Asks a supervisor's word, its password never shown; the window that
// opened it reads the reply and forgets it once the action is done.
class frmSupervisor : public QDialog {
    Q_OBJECT
public:
    explicit frmSupervisor(const SupervisorAsk& ask, QWidget* parent = nullptr);

    // The dialog, modal; nothing when cancelled.
    static std::optional<SupervisorReply> Ask(const SupervisorAsk& ask, QWidget* parent);
    SupervisorReply Reply() const;

private:
    void check();

    SupervisorAsk ask_;
    QComboBox* cboJob = nullptr;
    QLineEdit* txtName = nullptr;
    QLineEdit* txtUser;
    QLineEdit* txtPassword;
    QLineEdit* txtAgain = nullptr;
    QLabel* lblWhy;
    QDialogButtonBox* buttons;
};

// The station's lock (`locking`) or unlock of `job`, as a supervisor words
// it through `ask` (unset: the dialog); nothing when cancelled, or when no
// job may be locked to (then `why`, in the station's red line).
std::optional<SupervisorWord> LockWord(bool locking, const JobsAtHand& hand, const QString& job,
                                       const SupervisorAsker& ask, QWidget* parent, QString& why);
