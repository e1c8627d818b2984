#include "modemsetup/WavePlayer.h"

#include <QCoreApplication>
#include <QSoundEffect>
#include <QUrl>

void PlayWaveFile(const std::filesystem::path& file) {
  // One effect for the whole run: starting a new sound stops the last one.
  static QSoundEffect* effect = nullptr;
  if (!effect) effect = new QSoundEffect(QCoreApplication::instance());
  effect->stop();
  effect->setSource(QUrl::fromLocalFile(QString::fromStdString(file.string())));
  effect->play();
}
