#pragma once
// Naming of new fax image files and byte copies of files.

#include <string>

// folder + prefix + five digits + ".APF": the first number from 00000 whose
// file does not exist (in any letter case); after 99999 the 99999 name is
// returned whatever exists.
std::string NextFileName(const std::string& folder, const std::string& prefix);
std::string NextSendFileName(const std::string& prefix);  // in the SEND folder
std::string NextTempFileName(const std::string& prefix);  // in the program folder

// Copies source to target. Equal names (exact text) copy nothing and give
// false; so do a source that cannot be opened and a target that cannot be
// made. A copy that fails part-way removes the partial target and gives false.
bool CopyFileData(const std::string& source, const std::string& target);
