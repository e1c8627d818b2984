#include "xbase/XbError.h"

std::string_view XbErrorText(XbError e) {
  switch (e) {
    case XbError::Ok: return "No error";
    case XbError::FileNotFound: return "File not found";
    case XbError::FileExists: return "File already exists";
    case XbError::IoError: return "Input/output error";
    case XbError::DbfTooShort: return "Table file is shorter than its header";
    case XbError::DbfBadVersion: return "Not a dBASE table";
    case XbError::DbfBadHeader: return "Table header is damaged";
    case XbError::DbfBadField: return "Table field descriptor is damaged";
    case XbError::DbfTruncated: return "Table file is shorter than its record count";
    case XbError::CdxTooShort: return "Index file is too short";
    case XbError::CdxBadHeader: return "Index header is damaged";
    case XbError::CdxBadNode: return "Index page is damaged";
    case XbError::CdxCycle: return "Index pages form a cycle";
    case XbError::CdxBadTag: return "Index tag does not fit the table";
    case XbError::CdxMismatch: return "Index does not match the table";
    case XbError::ExprSyntax: return "Syntax error in expression";
    case XbError::ExprUnknownName: return "Unknown name in expression";
    case XbError::ExprType: return "Type mismatch in expression";
    case XbError::ExprTooLong: return "Expression too long";
    case XbError::NoSuchTag: return "No such index tag";
    case XbError::NoSuchField: return "No such field";
    case XbError::NoRecord: return "No current record";
    case XbError::BadValue: return "Value does not fit the field";
    case XbError::BadArgument: return "Bad argument";
    case XbError::ReadOnly: return "Table is open read-only";
    case XbError::Locked: return "Locked by another user";
    case XbError::NotLocked: return "Record is not locked";
    case XbError::NoWorkArea: return "No such work area";
    case XbError::Aborted: return "Aborted";
  }
  return "Unknown error";
}

std::string XbStatus::Message() const {
  std::string m(XbErrorText(code));
  if (!detail.empty()) m += ": " + detail;
  return m;
}
