#pragma once
// The file the View command shows for a row of the fax lists. An outgoing
// row with both a cover sheet and a document is shown as one fax, joined
// into a temporary file that goes away with this object.

#include <string>

class TFaxToView {
 public:
  // An outgoing row: its FAXCOVER and FAXDOC names in the SEND folder
  // (either may be empty). Both present: a new "Temp" file in the program
  // folder holding the cover's pages, then the document's.
  static TFaxToView Outgoing(const std::string& sendFolder, const std::string& cover, const std::string& doc);
  // A received row: its FAXFILE in the Receive folder.
  static TFaxToView Received(const std::string& receiveFolder, const std::string& faxFile);

  TFaxToView() = default;
  TFaxToView(TFaxToView&& other) noexcept;
  TFaxToView& operator=(TFaxToView&& other) noexcept;
  TFaxToView(const TFaxToView&) = delete;
  TFaxToView& operator=(const TFaxToView&) = delete;
  // Deletes the temporary file, if one was made (a failure is ignored).
  ~TFaxToView();

  // Empty when the row names no file that exists.
  const std::string& File() const { return file_; }
  bool Temporary() const { return temporary_; }

 private:
  void Remove();
  std::string file_;
  bool temporary_ = false;
};
