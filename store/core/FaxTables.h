#pragma once
// The three tables of the application, all in the program folder with a
// compound index of the same name: outgoing faxes (CVOUT), received faxes
// (CVREC) and the phone book (CVPB). Their layouts, tags, derived columns and
// opening rules live here and nowhere else.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "store/core/Xbase.h"

struct TFieldDef {
  const char* name;
  char type;
  int width;
  int decimals;
};

struct TTagDef {
  const char* tag;
  const char* key;
  bool descending;
  bool atCreation;  // made when the file is created; otherwise by the rebuild only
};

// All tags carry this condition: rows flagged deleted are in no tag.
inline constexpr const char* kTagCondition = ".not. deleted()";

inline constexpr const char* kOutgoingFile = "CVOUT.DBF";
inline constexpr const char* kReceivedFile = "CVREC.DBF";
inline constexpr const char* kPhoneBookFile = "CVPB.DBF";

const std::vector<TFieldDef>& OutgoingFields();
const std::vector<TFieldDef>& ReceivedFields();
const std::vector<TFieldDef>& PhoneBookFields();
// In the order they are built (the last one built becomes the current order).
const std::vector<TTagDef>& OutgoingTags();
const std::vector<TTagDef>& ReceivedTags();
const std::vector<TTagDef>& PhoneBookTags();

// Create the empty .DBF named by the TXbase's table object (folder and file
// name set). True only when the engine reports success and the file exists.
bool MakeOutgoingTable(TXbase& xbase);
bool MakeReceivedTable(TXbase& xbase);
bool MakePhoneBook(TXbase& xbase);

// Open, creating when missing: point the table at folder + file, create it
// when absent, (re)open it, build the creation tags when the .CDX is absent,
// then position and filter it. False on any failure.
// The outgoing table is filtered with `listFilter` (".not. archived" at
// start-up); the received table with ".not. deleted()"; the phone book is put
// in NAME order with ".not. deleted()".
bool OpenOutgoingTable(TXbDataTable& table, TXbase& xbase, const std::filesystem::path& folder,
                       const std::string& listFilter);
bool OpenReceivedTable(TXbDataTable& table, TXbase& xbase, const std::filesystem::path& folder);
bool OpenPhoneBook(TXbDataTable& table, TXbase& xbase, const std::filesystem::path& folder, bool exclusive);

// Builds the tags of a table (all of them, or only those made at creation),
// in table order.
bool BuildTags(TXbase& xbase, const std::vector<TTagDef>& tags, bool creationOnly);

// Derived columns of the current row; `programFolder` ends in "/".
std::string CalcFaxFileOutgoing(const TXbDataTable& table, const std::string& programFolder);
std::string CalcFaxFileReceived(const TXbDataTable& table, const std::string& programFolder);
std::string IsDeletedText(const TXbDataTable& table);   // "Yes" or "No "
std::string IsArchivedText(const TXbDataTable& table);  // "Yes" or "No "

// How the system writes dates and times (short formats) and what day it is.
struct TDateTimeText {
  int32_t today = 0;  // Julian day number
  std::function<std::string(int year, int month, int day)> date;
  std::function<std::string(int hour, int minute)> time;
};

// "hh:mm" (also h:mm, hh:mm:ss, with AM/PM) as a time of day.
bool ParseTimeOfDay(const std::string& text, int& hour, int& minute);

// The date and time text of the current row of an outgoing (true) or
// received (false) table, for viewer and print headers: "not sent" for an
// outgoing row whose DATESENT is empty or more than 2000 days old; otherwise
// the date, " at " and the time ("???" when an outgoing row's time cannot be
// read; a received row's stored text as it stands).
std::string RowDateTimeText(const TXbDataTable& table, bool outgoing, const TDateTimeText& fmt);
