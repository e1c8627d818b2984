#pragma once
// Help. The two help books ("CV.hlp", the program's help, and "FaxPS.HLP",
// the fax problem solver) are HTML pages built into the program, one page per
// topic number, shown in one shared help window.

#include <QString>

// The application's help file, by default program folder + "CV.hlp".
void SetApplicationHelpFile(const QString& fileName);
QString ApplicationHelpFile();

// Shows a topic of the book that the file name names (by its file name part,
// in any letter case). An unknown topic shows the book's contents page.
void ShowHelpTopic(const QString& helpFile, int topic);
// A topic of the application's help file.
void ShowHelpContext(int topic);
// Topic 1 of the problem solver; the application's help file stays as it was.
void ShowProblemSolver();

// The resource path of a topic's page, or an empty text when the book or the
// topic does not exist.
QString HelpTopicPage(const QString& helpFile, int topic);

// Help topic numbers used by the windows.
namespace HelpTopic {
inline constexpr int Contents = 1009;
inline constexpr int Faq = 911;
inline constexpr int TechnicalSupport = 1025;
inline constexpr int SendWindow = 1016;
inline constexpr int FaxInformation = 1015;
inline constexpr int PhoneBook = 1019;
inline constexpr int PhoneBookEditor = 1020;
inline constexpr int Viewer = 1021;
inline constexpr int Preferences = 1022;
inline constexpr int CoverSheetEditor = 1029;
inline constexpr int TemplateChooser = 1030;
inline constexpr int DeleteFax = 1031;
inline constexpr int Cleanup = 2107;
inline constexpr int PreferencesSending = 3501;
inline constexpr int PreferencesDialing = 3502;
inline constexpr int PreferencesReceiving = 3503;
inline constexpr int ProblemSolver = 1;
}  // namespace HelpTopic
