#pragma once

#include <ctime>
#include <string>
#include <system_error>

class CKLTDoc;

// Writing a received history the way the app saves it: Shift-JIS lines with CR LF. A file is
// written whole or not at all; a device or a FIFO is written into as it stands; "-" is
// standard output. With utf8, a copy in UTF-8 goes beside a file (NAME.utf8.txt for
// NAME.txt); into anything else the text itself goes in UTF-8 instead.
namespace history_output {

// The bytes of the history file of doc: every line followed by CR LF.
std::string FileBytes(const CKLTDoc& doc);

// Writes the bytes of a history file to path.
bool Write(const std::string& bytes, const std::string& path, bool utf8, std::error_code& error);

// Whether path can take a history: anything but a folder, or a new name in an existing
// folder. Checked before receiving, so a history is not received for nothing.
bool CheckTarget(const std::string& path, std::error_code& error);

// The file for a history of port that began at when: FOLDER/<port>-<YYYYmmdd-HHMMSS>.txt in
// local time, the port's name made fit for a file name (pts/3 -> pts-3, /dev/ttyUSB0 ->
// ttyUSB0). When that name is taken, -2, -3 ... is added before .txt.
std::string NameInFolder(const std::string& folder, const std::string& port, std::time_t when);

// The port's part of the file name.
std::string PortFileStem(const std::string& port);

// The UTF-8 copy's path beside a history file.
std::string Utf8CopyPath(const std::string& path);

} // namespace history_output
