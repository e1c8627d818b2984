// The arrival sound starts a WAV file without waiting for its end; anything
// that is not a playable WAV file gives no sound and no message.
#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSoundEffect>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "shell/TWaveSound.h"
#include "mainscreen/tests/ToneWav.h"
#include "testsupport/TempFolder.h"

namespace {

bool NoWindowOpened() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) return false;
  return true;
}

TEST(ArrivalSound, AWavFileIsLoadedAndStartedWithoutWaiting) {
  TTempFolder home;
  const auto wav = home / "ring.wav";
  TTempFolder::WriteFile(wav, ToneWav(80000));  // ten seconds
  TWaveSound sound;
  QSoundEffect* effect = sound.Effect();
  QSignalSpy playing(effect, &QSoundEffect::playingChanged);
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(sound.Play(QString::fromStdString(wav.string())));
  EXPECT_LT(clock.elapsed(), 2000);  // a ten-second sound does not hold the caller
  // The player was started and decodes the file (Ready, not Error). A
  // machine without an audio device ends the playing at once, silently.
  ASSERT_GE(playing.size(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return effect->status() == QSoundEffect::Ready; }, 5000)) << effect->status();
  EXPECT_EQ(effect->source(), QUrl::fromLocalFile(QString::fromStdString(wav.string())));
  EXPECT_TRUE(NoWindowOpened());

  // A second fax starts the sound again.
  playing.clear();
  EXPECT_TRUE(sound.Play(QString::fromStdString(wav.string())));
  EXPECT_TRUE(effect->isPlaying() || QTest::qWaitFor([&] { return !playing.isEmpty(); }, 2000));
}

TEST(ArrivalSound, NothingThatIsNotAWavFileIsPlayed) {
  TTempFolder home;
  TTempFolder::WriteFile(home / "garbage.wav", std::string(5000, '\x5a'));
  TTempFolder::WriteFile(home / "short.wav", "RIFF");
  TTempFolder::WriteFile(home / "empty.wav", "");
  ASSERT_EQ(::mkfifo((home / "pipe.wav").c_str(), 0600), 0);
  TWaveSound sound;
  for (const std::string name : {"", "missing.wav", "garbage.wav", "short.wav", "empty.wav", "pipe.wav", "."}) {
    const QString file = name.empty() ? QString() : QString::fromStdString((home / name).string());
    EXPECT_FALSE(sound.Play(file)) << name;  // a pipe is refused without waiting for a writer
  }
  QSoundEffect* effect = sound.Effect();
  EXPECT_TRUE(effect->source().isEmpty());
  EXPECT_FALSE(effect->isPlaying());

  // A file that begins as a WAV but holds nothing playable: the player never
  // gets it ready, so there is no sound, and no message either.
  const std::string wav = ToneWav();
  TTempFolder::WriteFile(home / "broken.wav", wav.substr(0, 12) + std::string(300, '\xff'));
  EXPECT_TRUE(sound.Play(QString::fromStdString((home / "broken.wav").string())));
  EXPECT_FALSE(QTest::qWaitFor([&] { return effect->status() == QSoundEffect::Ready; }, 1500));
  EXPECT_TRUE(NoWindowOpened());
}

}  // namespace
