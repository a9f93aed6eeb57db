#include "ui/QtPrompts.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QTextEdit>

namespace {

QMessageBox::StandardButton toQt(BoxAnswer a) {
    switch (a) {
    case BoxAnswer::Ok:
        return QMessageBox::Ok;
    case BoxAnswer::Cancel:
        return QMessageBox::Cancel;
    case BoxAnswer::Yes:
        return QMessageBox::Yes;
    case BoxAnswer::No:
        return QMessageBox::No;
    case BoxAnswer::Retry:
        return QMessageBox::Retry;
    }
    return QMessageBox::Ok;
}

BoxAnswer fromQt(int b, BoxButtons buttons) {
    switch (b) {
    case QMessageBox::Ok:
        return BoxAnswer::Ok;
    case QMessageBox::Yes:
        return BoxAnswer::Yes;
    case QMessageBox::No:
        return BoxAnswer::No;
    case QMessageBox::Retry:
        return BoxAnswer::Retry;
    case QMessageBox::Cancel:
        return BoxAnswer::Cancel;
    default:
        // A box closed without a button (Escape on a box that has no Cancel).
        return DismissAnswer(buttons);
    }
}

// "Description | pattern" becomes Qt's "Description (pattern)".
QString QtFilter(const QString& filter) {
    if (const auto bar = filter.indexOf(QLatin1Char('|')); bar >= 0)
        return filter.left(bar).trimmed();
    return filter;
}

} // namespace

namespace {

void Dress(QMessageBox& mb, const Box& box) {
    mb.setWindowTitle(box.title);
    mb.setText(box.text);
    mb.setTextFormat(Qt::PlainText);
    mb.setIcon(box.icon == BoxIcon::Question      ? QMessageBox::Question
               : box.icon == BoxIcon::Exclamation ? QMessageBox::Warning
                                                  : QMessageBox::Information);
    switch (box.buttons) {
    case BoxButtons::Ok:
        mb.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxButtons::OkCancel:
        mb.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        mb.setEscapeButton(QMessageBox::Cancel);
        break;
    case BoxButtons::YesNo:
        mb.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case BoxButtons::RetryCancel:
        mb.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        mb.setEscapeButton(QMessageBox::Cancel);
        break;
    case BoxButtons::CreateCancel:
        mb.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
        mb.button(QMessageBox::Yes)->setText(QStringLiteral("&Create"));
        mb.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    mb.setDefaultButton(toQt(box.defaultButton));
    if (!box.detail.isEmpty()) {
        mb.setDetailedText(box.detail);
        // The box is as wide as its short text; advice several lines long
        // would be squeezed into a narrow column.
        if (auto* details = mb.findChild<QTextEdit*>())
            details->setMinimumWidth(details->fontMetrics().averageCharWidth() * 72);
    }
}

} // namespace

BoxAnswer QtPrompts::MsgBox(const Box& box) {
    QMessageBox mb(parent_);
    Dress(mb, box);
    return fromQt(mb.exec(), box.buttons);
}

void QtPrompts::MsgBoxLater(const Box& box, std::function<void(BoxAnswer)> answered) {
    auto* mb = new QMessageBox(parent_);
    mb->setAttribute(Qt::WA_DeleteOnClose);
    Dress(*mb, box);
    QObject::connect(mb, &QMessageBox::finished, mb,
                     [buttons = box.buttons, answered = std::move(answered)](int result) {
                         answered(fromQt(result, buttons));
                     });
    mb->open();
}

QString QtPrompts::ShowOpen(const OpenFileRequest& request) {
    QFileDialog dialog(parent_, request.title, request.initialDirectory, QtFilter(request.filter));
    dialog.setFileMode(QFileDialog::AnyFile); // a name that does not exist yet is allowed
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setLabelText(QFileDialog::Accept, QFileDialog::tr("&Open"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString QtPrompts::ShowSave(const SaveFileRequest& request) {
    QFileDialog dialog(parent_, request.title, request.initialPath, QtFilter(request.filter));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
