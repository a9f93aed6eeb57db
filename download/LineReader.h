#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A text file read line by line the way load files are written: a line ends at
// CR or CR LF, which are not part of it; a lone LF is an ordinary character.
class LineReader {
public:
    // Opens the plain file `path` at its first line; false (and closed) when it
    // cannot.
    bool Open(const QString& path);
    void Close();
    bool IsOpen() const { return file_.isOpen(); }
    QString FileName() const { return file_.fileName(); }
    bool AtEnd();
    // The next line; reading past the end gives an empty line.
    QByteArray ReadLine();
    // Why the last Open or read failed.
    QString ErrorString() const { return file_.errorString(); }

private:
    bool fill();

    QFile file_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
};
