#pragma once
// What a print job tells about the fax it is to become: the job's options
// (fax-number, fax-to, fax-subject) and its title, reduced to the three lines
// of a job description.

#include <string>
#include <string_view>

struct TPrintedFax {
  std::string faxNumber;
  std::string recipient;
  std::string subject;
};

// A value fit for one line of a description file: control characters
// (newlines included) become blanks, surrounding blanks go, and the text is
// cut to at most maxBytes without splitting a UTF-8 sequence.
std::string OneLineValue(std::string_view text, size_t maxBytes = 250);

// Reads the options string of a job (name=value pairs as the print system
// passes them, values possibly quoted); the subject falls back to the title.
TPrintedFax PrintedFaxFromJob(const std::string& options, const std::string& title);

// The description file's text: number, recipient, subject, one per line.
std::string JobDescriptionText(const TPrintedFax& fax);
