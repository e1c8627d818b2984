#pragma once
// The rules of receive mode that need no window, port or table: the status
// line, the station identifier as stored, and the received image file kept
// to its complete pages.

#include <QString>

#include <cstdint>
#include <filesystem>
#include <string>

// The Receive folder without its trailing separator, as the receive
// component takes it.
[[nodiscard]] std::string ReceiveDirectory();

// The far end's station identifier as FROM holds it: control bytes and
// anything outside printable ASCII dropped, blanks trimmed, at most 20
// characters.
[[nodiscard]] QString CleanStationId(const std::string& raw);

// The status line for a progress report: the progress text (with the
// modem's hang-up report and page data reworded), the far end's identifier
// and, while page data arrives, the page and the bytes so far. Empty for an
// aborted call.
[[nodiscard]] QString ReceiveStatusLine(const std::string& progressText, const QString& remoteId, int page,
                                        long bytes);

// The session log line of a fax received whole.
[[nodiscard]] QString ReceivedOkLine(const QString& from, int pages);

// The pages of a received image whose data is whole as the file header
// counts them; -1 when the file cannot be read as an image file.
[[nodiscard]] int CompleteReceivedPages(const std::filesystem::path& file);

// Cuts a received image back to its first `pages` pages: the data after
// them goes and the header counts them. 0, or a negative error code.
[[nodiscard]] int KeepReceivedPages(const std::filesystem::path& file, int pages);

// The note of a fax stored with only the pages that arrived before a failure.
[[nodiscard]] QString IncompleteNote(const QString& errorText);

// A reception under way is recorded in the Receive folder, so that a run that
// ends without finishing it leaves the name of its file for the next start.
[[nodiscard]] std::filesystem::path ReceivingMarker(const std::filesystem::path& receiveFolder);
void MarkReceiving(const std::filesystem::path& receiveFolder, const std::string& imageFile);
void ClearReceiving(const std::filesystem::path& receiveFolder);
// The name (without folder) of the file a run left unfinished, or empty.
[[nodiscard]] std::string UnfinishedReception(const std::filesystem::path& receiveFolder);
