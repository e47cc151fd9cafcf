#include "RotatingLogFile.h"

RotatingLogFile::RotatingLogFile(const QString& path, qint64 maxBytes, int kept)
    : path_(path), maxBytes_(maxBytes), kept_(kept) {}

bool RotatingLogFile::open(QString* error) {
    file_.setFileName(path_);
    if (file_.open(QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *error = file_.errorString();
    return false;
}

void RotatingLogFile::rotate() {
    file_.close();
    const auto numbered = [this](int k) { return path_ + QLatin1Char('.') + QString::number(k); };
    if (kept_ == 0) {
        QFile::remove(path_);
        return;
    }
    QFile::remove(numbered(kept_));
    for (int k = kept_ - 1; k >= 1; --k)
        QFile::rename(numbered(k), numbered(k + 1));
    QFile::rename(path_, numbered(1));
}

bool RotatingLogFile::appendLine(const QString& text, QString* error) {
    if (!file_.isOpen() && !open(error))
        return false;
    if (file_.size() >= maxBytes_) {
        rotate();
        if (!open(error))
            return false;
    }
    const QByteArray line = text.toUtf8() + '\n';
    if (file_.write(line) == line.size())
        return true;
    *error = file_.errorString();
    file_.close(); // opened afresh for the next line
    return false;
}
