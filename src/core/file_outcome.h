// What the status bar says after a file was written or read, and the plain
// cause of a failed write.  Plain functions: the widgets gather the facts
// (does the file exist, the folder, may it be written, is the disk full) and
// these turn them into the words the operator reads.
#pragma once

#include <QString>

namespace qvx {

enum class FileAction { Saved, Read, Appended };

// "Saved 2,080 lines to /home/ann/site.csv (31,200 bytes)"; lines < 0 leaves
// the line count out.
QString fileDoneText(FileAction action, qint64 lines, const QString &path, qint64 bytes);

// A byte or line count with thousands separators, as in "2,080".
QString groupedNumber(qint64 n);

enum class FileCause {
    Unknown,          // none of the below: the system's own words are shown
    MustBeCreated,    // the file is only ever added to and does not exist
    FolderMissing,    // the folder the file should be in does not exist
    PermissionDenied, // the file or its folder may not be written
    DiskFull,         // no space left on the disk
};

struct FileFacts {
    bool mustExist = false; // the operation never creates the file
    bool fileExists = false;
    bool folderExists = true;
    bool writable = true;  // the file (when it exists) or else its folder
    bool diskFull = false; // the error was "no space left"
};

// The most likely cause, checked in the order an operator would mend them.
FileCause fileFailureCause(const FileFacts &facts);

// The cause in plain words, naming path (and its folder where that is the
// fault); detail, the system's own message, is given for Unknown.
QString fileFailureText(FileCause cause, const QString &path, const QString &detail = {});

} // namespace qvx
