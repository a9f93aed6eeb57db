#pragma once

#include <QByteArray>
#include <QCryptographicHash>
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
    // The SHA-256 (hex) of every byte read since Open, kept past Close for the
    // record of the run that read them: the history names the load that went
    // to the board by it, without reading the file a second time, which might
    // by then hold another load.
    QByteArray Sha256() const { return sha256_.result().toHex(); }
    // How many bytes that hash covers.
    qint64 BytesRead() const { return read_; }
    // Closes the file and forgets what was read: a run that never opens one
    // must not pass off the last run's hash as its own.
    void Forget();

    // The number (from 1) of the first line of `file` longer than `longest`
    // bytes, 0 when there is none; read from where it stands to its end, a
    // piece at a time, so that a line of any length costs no memory.
    static qint64 LongLine(QFile& file, qint64 longest);

private:
    bool fill();

    QFile file_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    QCryptographicHash sha256_{QCryptographicHash::Sha256};
    qint64 read_ = 0;
};
