#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// A file that decides what the launcher runs, read only when nobody but its user (or root) could
// have written it: the file and every folder on the way to it belong to the user or to root and
// no group or other user may write to them. The one exception is a group that the file itself
// names, when the user owns the file: the file and the folders may then be written by that group.
// A folder above the file's own that anyone may write to counts only with its sticky bit set (as
// /tmp has): others cannot rename or remove what lies in it.
//
// Only a regular file is read, never through a link, never waiting on a FIFO or a device, and no
// more than maxBytes of it.
struct TrustedFileRead {
    bool found = false; // something is there under that name
    QByteArray data;    // the whole file, once read and trusted
    // Why it is not used, naming the path that is to blame; empty when it is read and trusted.
    QString refusal;
};

// groupOf: the group the file names for those who may write to it, from its text; empty for none.
// A name that names no group of the system refuses the file.
TrustedFileRead ReadTrustedFile(const QString& folder, const QString& name, qint64 maxBytes,
                                const std::function<QString(const QByteArray&)>& groupOf);
