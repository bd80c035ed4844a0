#pragma once
// The knock sound, played from memory asynchronously; a new knock restarts it. Without an audio
// output (or without a sound) playing does nothing: that is never an error.
#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

class QSoundEffect;
class QTemporaryFile;

namespace kv {

class KnockSound final : public QObject {
    Q_OBJECT
public:
    // `wav` is the bytes of the "KNOCK.WAV" resource (may be empty).
    explicit KnockSound(std::vector<std::uint8_t> wav, QObject* parent = nullptr);
    ~KnockSound() override;
    // Stops a sound still playing and starts it again.
    void Play();

private:
    bool Prepare();
    std::vector<std::uint8_t> wav_;
    std::unique_ptr<QTemporaryFile> file_;
    QSoundEffect* effect_ = nullptr;
    bool failed_ = false;
};

} // namespace kv
