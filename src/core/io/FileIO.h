#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

// Files as the core sees them: byte sources and sinks. The platform layer implements the
// functions declared here; nothing in the core opens a file by itself.
namespace kltio {

// The name after the last folder separator of a path, by the platform's rules: '/' on POSIX;
// '\\' or '/' on Windows, where a Shift-JIS trail byte that looks like '\\' separates nothing.
std::string FileNameOfPath(const std::string& path);

// A source of bytes: a file, a device, a pipe or standard input.
class CByteReader {
public:
    virtual ~CByteReader() = default;
    // Reads up to size bytes into buffer; received is 0 at the end of the input. Retries on
    // interruption; false with error set when the read failed.
    virtual bool Read(char* buffer, std::size_t size, std::size_t& received,
                      std::error_code& error) = 0;
    // The size of a regular file when it was opened, 0 when unknown.
    virtual std::uint64_t SizeHint() const { return 0; }
};

// A sink of bytes.
class CByteWriter {
public:
    virtual ~CByteWriter() = default;
    // Writes all size bytes or fails with error set.
    virtual bool Write(const char* data, std::size_t size, std::error_code& error) = 0;
};

// What a path names (a symbolic link is followed). Device: a character or block device;
// Other: a FIFO or a socket.
enum class NodeKind { Missing, Regular, Directory, Device, Other };
NodeKind ClassifyPath(const std::string& path);

// Opens a path for reading. With regularOnly, anything but a regular file is refused before
// it is opened for real (so the open never blocks on a FIFO or a device), with notAFile set.
// Without it, "-" is standard input. A directory is always refused (is_a_directory).
std::unique_ptr<CByteReader> OpenForReading(const std::string& path, bool regularOnly,
                                            bool& notAFile, std::error_code& error);

// The process's standard input and output.
std::unique_ptr<CByteReader> StandardInput();
std::unique_ptr<CByteWriter> StandardOutput();

// Whether standard error is a terminal (a console window), where a status line can be
// redrawn in place.
bool StandardErrorIsTerminal();

// Whether the existing file at path may be written by this user: false when it is missing,
// a folder, or read-only for the user.
bool IsWritable(const std::string& path);

// Where written output goes, finished by Commit. Destroying it uncommitted abandons the
// output: a file being replaced keeps its old contents.
class COutput : public CByteWriter {
public:
    virtual bool Commit(std::error_code& error) = 0;
};

// What the output rule does with an existing node that is neither a regular file nor a
// directory (a device, a FIFO, a socket).
enum class OtherNodes {
    WriteInPlace, // open it and write into it as it stands (the command-line tools)
    Refuse,       // refuse it with notAFile set (the app, which saves only files)
};

// The output rule shared by the app and every tool. An existing regular file (or a symbolic
// link to one: the file is replaced, the link stays) or a new name is written atomically
// (CAtomicFile). A directory is refused (is_a_directory). Anything else that exists is never
// replaced by a file: see OtherNodes. With WriteInPlace, "-" is standard output.
std::unique_ptr<COutput> OpenForWriting(const std::string& path, OtherNodes others, bool& notAFile,
                                        std::error_code& error);

// An existing node that is not a regular file or a directory, opened for writing as it
// stands (no create, no truncate); refused with invalid_argument if it turned into a regular
// file or a directory meanwhile. Used by OpenForWriting.
std::unique_ptr<COutput> OpenInPlace(const std::string& path, std::error_code& error);

// Who may read a file that is written.
enum class FileAccess {
    Usual,     // the old file's permissions, or the user's default ones for a new file
    OwnerOnly, // the user alone, whatever the old file allowed (on Windows: an access list
               // that grants the user alone, in place of the inherited one)
};

// A file written whole or not at all: the bytes go to a temporary file beside the target,
// which Commit flushes to disk and renames over the target. Destroying it uncommitted
// removes the temporary file and leaves the target untouched. A symbolic link is followed:
// the file it points to is replaced, the link stays. A write-protected target is refused.
class CAtomicFile : public COutput {
public:
    static std::unique_ptr<CAtomicFile> Create(const std::string& path, std::error_code& error,
                                               FileAccess access = FileAccess::Usual);
};

// Makes sure a folder for the user's own data exists: it and any missing parents are created
// for the user alone. An existing folder of the user's is restricted to the user; one that
// belongs to someone else, or a path that is not a folder, is refused.
bool CreatePrivateFolder(const std::string& path, std::error_code& error);

// Removes a file; a file that is not there is no error.
bool RemoveFile(const std::string& path, std::error_code& error);

} // namespace kltio
