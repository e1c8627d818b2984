#pragma once
// Splits the body of one AT command line (the text after "AT") into the
// commands it holds, the way Hayes-compatible modems read it:
//  - basic commands: a letter, or "&"/"\" and a letter, with optional digits
//    ("E0", "&F", "H", "Z"); "D" takes the rest of the line up to ";";
//  - S registers: "S7=90", "S7?", "S7" (select) and "?" (read selected);
//  - extended commands: "+" and a name, then "=?" (test), "?" (read),
//    "=value" (set) or nothing (action), ended by ";" or the line end.
// The parser is pure: it knows no command's meaning.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TAtKind { Basic, SRegister, Dial, Extended };
enum class TAtOp { Action, Set, Read, Test };

struct TAtCommand {
  TAtKind kind = TAtKind::Basic;
  std::string name;             // upper case: "E", "&F", "D", "+FCLASS"; "S" for registers
  std::optional<long> number;   // digits after a basic command, or the S register
  TAtOp op = TAtOp::Action;
  std::string arg;              // value of a set, the dial string of "D"
  std::string text;             // the command as written, for passing it on
};

struct TAtParse {
  std::vector<TAtCommand> commands;
  bool ok = true;               // false: the line has a syntax error
};

// Longest command line accepted; longer lines are an error, like a modem's
// full command buffer.
inline constexpr size_t kAtMaxLine = 255;

TAtParse ParseAtLine(std::string_view body);

// Digits of a dial string ("T9,W200;" gives "9200"); the tone/pulse choice is
// reported through pulse. Characters that only shape the dialling (",", "W",
// "@", "!", blanks, dashes, brackets) are dropped.
std::string DialDigits(std::string_view dial, bool& pulse);
