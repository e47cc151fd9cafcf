#pragma once

#include <QString>
#include <memory>

class QFile;

// A folder the launcher writes its files into, held open once it has been checked: it is this
// user's own and nobody else may write to it, so nobody else can plant a file or link in it.
// Files in it are opened relative to the held folder, never through a link, and made private
// (0600), or readable by the folder's group (0640) when the folder is set up for its group to
// read (LetGroupRead). A folder renamed or replaced behind the launcher's back does not redirect
// what it writes.
class CheckedFolder {
public:
    // The folder at path, made private (0700, with its parents when asked) when missing. Null,
    // with the reason in *why, when it is a link, another user's or others may write to it.
    static std::unique_ptr<CheckedFolder> Open(const QString& path, bool makeParents, QString* why);
    // Sets up the folder, once checked as Open does, for that group to read what is made in it
    // (02750, owned by the group), which the user must belong to; an empty group takes back a
    // sharing made so (0700). False with the reason when it cannot be done.
    static bool LetGroupRead(const QString& path, const QString& group, QString* why);
    ~CheckedFolder();
    CheckedFolder(const CheckedFolder&) = delete;
    CheckedFolder& operator=(const CheckedFolder&) = delete;

    const QString& path() const { return path_; }
    // A path to name in this folder that goes through the held folder, not through its path: a
    // socket bound there lands in this folder even when the path was swapped meanwhile.
    QString heldPath(const QString& name) const;
    // Gives the socket name in the folder to the folder's group, for reading and writing (0660):
    // only a socket of this user's, never through a link. False with the reason otherwise.
    bool shareSocket(const QString& name, QString* error) const;

    // Opens the file name for appending, creating it private. False with the reason when it
    // cannot, a link in its place included.
    bool openForAppend(const QString& name, QFile& file, QString* error) const;
    // Creates a file of its own: base + ext, or when that name is taken (by anything, a link
    // included), base-2 + ext, base-3 + ext, ... The name used; empty with the reason when none.
    QString createNew(const QString& base, const QString& ext, QFile& file, QString* error) const;
    // Creates a file of its own under a name nobody can guess: prefix + six random letters. The
    // name used; empty with the reason when none could be made.
    QString createUnguessable(const QString& prefix, QFile& file, QString* error) const;
    // Reads the whole of the file name, when it is a plain file of at most maxBytes. An absent
    // file reads as empty. False with the reason otherwise, a link in its place included.
    bool readAll(const QString& name, qint64 maxBytes, QByteArray* data, QString* error) const;
    // Puts data in the file name whole or not at all: written and synced to a new file, which
    // then takes the name's place.
    bool replace(const QString& name, const QByteArray& data, QString* error) const;
    // Renames or removes a file in the folder (a link itself, never what it points to).
    bool rename(const QString& from, const QString& to) const;
    bool remove(const QString& name) const;

private:
    CheckedFolder(int fd, const QString& path, unsigned fileMode, unsigned folderGroup)
        : fd_(fd), path_(path), fileMode_(fileMode), folderGroup_(folderGroup) {}
    int fd_;
    QString path_;
    unsigned fileMode_;    // of the files it makes
    unsigned folderGroup_; // the group that reads them, when they are 0640
};
