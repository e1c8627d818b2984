#pragma once
// Result codes of the table engine. Every failure the engine can meet on an
// untrusted file, a bad expression or a busy lock maps onto one of these; the
// engine never throws for them and never crashes on them.

#include <string>
#include <string_view>

enum class XbError {
  Ok = 0,
  // Files
  FileNotFound,
  FileExists,
  IoError,
  // Damaged or foreign .DBF files
  DbfTooShort,          // file shorter than its header
  DbfBadVersion,        // first byte is not a dBASE/FoxPro table
  DbfBadHeader,         // header length, record length or field layout inconsistent
  DbfBadField,          // a field descriptor with an unknown type, bad width or name
  DbfTruncated,         // record count runs beyond the end of the file
  // Damaged or foreign .CDX files
  CdxTooShort,
  CdxBadHeader,
  CdxBadNode,           // a B-tree page that cannot be a node of this tag
  CdxCycle,             // a page reached twice while walking a tag
  CdxBadTag,            // a tag whose expression or key length does not fit the table
  CdxMismatch,          // the index was written for another state of the table
  // Expressions
  ExprSyntax,
  ExprUnknownName,
  ExprType,
  ExprTooLong,
  // Use
  NoSuchTag,
  NoSuchField,
  NoRecord,             // no current row (beginning or end of the table)
  BadValue,             // a value that does not fit the field
  BadArgument,
  ReadOnly,
  Locked,               // the table or the row is locked by someone else
  NotLocked,            // a write in shared mode without the row lock
  NoWorkArea,
  Aborted,              // a progress callback asked to stop
};

// Fixed English text of a code, for messages and logs.
std::string_view XbErrorText(XbError e);

// A code plus the detail that makes it useful (file name, column of a syntax
// error, the name that was not found).
struct [[nodiscard]] XbStatus {
  XbError code = XbError::Ok;
  std::string detail;

  bool ok() const { return code == XbError::Ok; }
  explicit operator bool() const { return ok(); }
  std::string Message() const;
  static XbStatus Success() { return {}; }
};

inline XbStatus XbFail(XbError code, std::string detail = {}) { return XbStatus{code, std::move(detail)}; }
