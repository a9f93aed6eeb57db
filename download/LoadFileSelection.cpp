#include "download/LoadFileSelection.h"

#include "app/Context.h"
#include "app/Look.h"
#include "download/LineReader.h"

#include <QFileInfo>

void SelectLoadFile(Context&, QLabel&) {}

void ValidateLoadFile(Context& ctx) {
    ctx.LoadFileStream.Close();
    ctx.m.FileValid = false;
    if (!QFileInfo(ctx.m.LoadFileName).isFile()) {
        ctx.prompts.MsgBox(MakeBox(QStringLiteral("File Requested Not Found"),
                                   QStringLiteral("Quorvel Velloran"), BoxIcon::Exclamation));
        ctx.lblMsg.setText(QStringLiteral("Load File Requested was Not Found"));
        SetForeColor(ctx.lblMsg, Red);
        return;
    }
    ctx.m.FileValid = ctx.LoadFileStream.Open(ctx.m.LoadFileName);
}

QString DirectoryOf(const QString& path) {
    return QFileInfo(path).path();
}
