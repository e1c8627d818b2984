#pragma once
// The fax printer's print-system backend: run by the print system with the
// job's arguments (job-id user title copies options [file]; the document on
// standard input when no file is named), it turns the document into a fax
// job in the submitting user's job folder, named by that user's CVPD.INI.
// Run without arguments it prints the line that makes the printer
// discoverable.
//
// Run as root (the only way it can serve every user) it becomes the
// submitting user before it reads anything of that user's, so that it can
// reach no file the user could not. Run as anyone else it serves only jobs of
// that same user.

// Returns the backend's exit status (CUPS_BACKEND_*); messages go to stderr
// as the print system's log expects them ("ERROR: ...", "INFO: ...").
int RunCorvaneBackend(int argc, char** argv);

// A user name the backend accepts to look up: not empty, no "/", no "..",
// no leading "-", no control characters.
bool AcceptableUserName(const char* name);
