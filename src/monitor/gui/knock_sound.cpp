#include "monitor/gui/knock_sound.h"

#include <QAudioDevice>
#include <QDir>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryFile>
#include <QUrl>

namespace kv {

KnockSound::KnockSound(std::vector<std::uint8_t> wav, QObject* parent) : QObject(parent), wav_(std::move(wav)) {}

KnockSound::~KnockSound() = default;

bool KnockSound::Prepare() {
    if (effect_) return true;
    if (failed_ || wav_.empty() || QMediaDevices::audioOutputs().isEmpty()) {
        failed_ = true;
        return false;
    }
    // The sound effect plays from a URL: the bytes go to a private temporary file once.
    file_ = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/kestrovane-knock-XXXXXX.wav");
    if (!file_->open() || file_->write(reinterpret_cast<const char*>(wav_.data()), static_cast<qint64>(wav_.size())) !=
                              static_cast<qint64>(wav_.size())) {
        failed_ = true;
        return false;
    }
    file_->flush();
    effect_ = new QSoundEffect(this);
    effect_->setSource(QUrl::fromLocalFile(file_->fileName()));
    return true;
}

void KnockSound::Play() {
    if (!Prepare()) return;
    effect_->stop();
    effect_->play();
}

} // namespace kv
