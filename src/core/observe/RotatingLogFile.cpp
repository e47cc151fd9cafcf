#include "RotatingLogFile.h"

#include "CheckedFolder.h"

#include <QFileInfo>

RotatingLogFile::RotatingLogFile(const QString& path, qint64 maxBytes, int kept)
    : path_(path), folderPath_(QFileInfo(path).path()), name_(QFileInfo(path).fileName()),
      maxBytes_(maxBytes), kept_(kept) {}

RotatingLogFile::~RotatingLogFile() = default;

bool RotatingLogFile::open(QString* error) {
    if (!folder_) {
        QString why;
        folder_ = CheckedFolder::Open(folderPath_, false, &why);
        if (!folder_) {
            *error = folderPath_ + QStringLiteral(": ") + why;
            return false;
        }
    }
    if (folder_->openForAppend(name_, file_, error))
        return true;
    folder_.reset(); // looked at afresh next time: the folder may have been made again
    return false;
}

void RotatingLogFile::rotate() {
    file_.close();
    const auto numbered = [this](int k) { return name_ + QLatin1Char('.') + QString::number(k); };
    if (kept_ == 0) {
        folder_->remove(name_);
        return;
    }
    folder_->remove(numbered(kept_));
    for (int k = kept_ - 1; k >= 1; --k)
        folder_->rename(numbered(k), numbered(k + 1));
    folder_->rename(name_, numbered(1));
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
    folder_.reset();
    return false;
}
