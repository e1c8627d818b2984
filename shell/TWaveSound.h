#pragma once
// A WAVE sound played once: the arrival sound of a received fax, and the
// preferences' Play Now. Playing never waits for the sound to end and never
// reports a failure: without a file, with a file that is not a WAVE sound,
// or on a machine without an audio device there is simply no sound.

#include <QObject>
#include <QString>

class QSoundEffect;

class TWaveSound : public QObject {
  Q_OBJECT
 public:
  explicit TWaveSound(QObject* parent = nullptr);

  // Starts the sound and returns at once; false when the file is empty,
  // missing, not a regular file or does not begin as a RIFF WAVE file.
  bool Play(const QString& wavFile);

  // The player the sounds are started on.
  [[nodiscard]] QSoundEffect* Effect() const { return effect_; }

  // True for a regular file that starts with a RIFF WAVE header. Only the
  // first bytes are read, and special files (pipes, devices) are refused
  // before they are opened, so this never waits.
  [[nodiscard]] static bool IsWaveFile(const QString& file);

 private:
  QSoundEffect* effect_;
};
