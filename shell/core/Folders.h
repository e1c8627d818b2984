#pragma once
// The program folder and the folders and files under it. Every path held as a
// folder ends in "/". The spelling used when creating things is canonical
// (SEND, Receive, Covers); finding existing ones ignores letter case, since
// files copied from other systems may be spelt RECEIVE, receive, *.apf ...

#include <filesystem>
#include <optional>
#include <string>

// The folder of the executable, unless CORVANE_HOME names another; when
// neither can be written, or the executable is installed in a "bin" folder,
// ~/.local/share/corvane/. Decided once per process.
std::string ProgramFolder();
// For tests and tools: use this folder from now on (a trailing "/" is added).
void SetProgramFolder(const std::string& folder);
// True when the program folder chosen above could be created and written.
bool ProgramFolderWritable();

std::string IniFileName();    // program folder + "CV.INI"
std::string SendFolder();     // program folder + "SEND/"
std::string ReceiveFolder();  // program folder + "Receive/"
std::string CoversFolder();   // program folder + "Covers/"

// The folder holding the printer driver's CVPD.INI for a user whose home is
// home (no XDG_CONFIG_HOME of its own): home + "/.config/corvane/".
std::string PrinterDriverConfigFolderIn(const std::string& home);

// Creates SEND and Receive (with missing parents) when missing; failures are
// ignored, each folder on its own.
void MakeFolders();

// The existing entry of folder whose name equals name apart from letter case
// (an exact match wins); nullopt when there is none.
std::optional<std::filesystem::path> FindNoCase(const std::filesystem::path& folder, const std::string& name);
// The path to use for folder/name: the existing entry of any letter case, or
// folder/name as given when none exists.
std::filesystem::path ResolveNoCase(const std::filesystem::path& folder, const std::string& name);
