#include "shell/TWaveSound.h"

#include <QFile>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

TWaveSound::TWaveSound(QObject* parent) : QObject(parent), effect_(new QSoundEffect(this)) {}

bool TWaveSound::IsWaveFile(const QString& file) {
  if (file.isEmpty()) return false;
  const QFileInfo info(file);
  // QFileInfo::isFile is false for directories, pipes, sockets and devices.
  if (!info.exists() || !info.isFile()) return false;
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = f.read(12);
  return head.size() == 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WAVE";
}

bool TWaveSound::Play(const QString& wavFile) {
  if (!IsWaveFile(wavFile)) return false;
  const QUrl source = QUrl::fromLocalFile(QFileInfo(wavFile).absoluteFilePath());
  // The player loads the file on its own thread and starts once it is
  // loaded; a file it cannot decode leaves it in its error state, silent.
  if (effect_->source() != source) effect_->setSource(source);
  effect_->play();
  return true;
}
