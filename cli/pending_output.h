// The file create writes: a new file beside OUTPUT that replaces it only once it is complete.
#pragma once

#include <string>

#include "file/native_path.h"
#include "file/velk_file.h"

namespace velk_cli {

class PendingOutput {
public:
    // An OUTPUT that is a symbolic link stands for the file it names: that file is replaced, the
    // link stays.
    explicit PendingOutput(const NativeString& output);
    // Removes the new file unless it replaced OUTPUT.
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Creates the new file under a name of its own, never an existing file or a link, and
    // gives it the permissions of the file it is to replace.
    bool Create(bool executable);
    // Where create writes: the handle that created the file, never a second open by name.
    CVELK_File& File() { return m_file; }
    // Forces the contents to the disk, so that a crash after the rename cannot leave an OUTPUT
    // that is empty or part-written in place of the old one.
    bool Flush() { return m_file.Flush(); }
    // Renames the new file over OUTPUT.
    bool Commit();

    // The name of the new file beside `name` for one attempt: OUTPUT's name with a suffix, the
    // name shortened (never inside a character) so that the whole fits in `limit` units.
    static NativeString TemporaryName(const NativeString& name, uint32_t attempt, size_t limit);

private:
    NativeString m_target;  // the file to replace: OUTPUT, or what a link OUTPUT names
    NativeString m_path;    // the new file, once created
    CVELK_File m_file;
    bool m_committed = false;
};

}  // namespace velk_cli
