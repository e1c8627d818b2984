#pragma once
// One fax that receive mode has stored: its image in the Receive folder and
// the row appended to the received table. Receive mode hands it to whatever
// announces an arrival (sound, desktop notification, printing on receipt)
// after the row is written.

#include <QDate>
#include <QString>
#include <QTime>

#include <cstdint>

struct TReceivedFax {
  QString imageFile;     // full path of the APF file in the Receive folder
  QString from;          // far end's station identifier, trimmed and cleaned as stored in FROM
  int pages = 0;         // pages stored in the image file
  QDate date;            // DATEREC of the row
  QTime time;            // TIMEREC of the row (hours and minutes)
  uint32_t recNo = 0;    // record number of the new row in the received table
  bool complete = true;  // false when the call failed after some pages had been confirmed
};
