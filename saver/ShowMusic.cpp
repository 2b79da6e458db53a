#include "ShowMusic.h"

#ifdef GD_HAVE_MULTIMEDIA
#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>
#endif

struct TShowMusicPlayer::Impl {
    std::function<void()> failed;
#ifdef GD_HAVE_MULTIMEDIA
    std::unique_ptr<QMediaPlayer> player;
    std::unique_ptr<QAudioOutput> output;
    bool playing = false;

    void Fail() {
        if (!playing) return;
        playing = false;
        if (failed) failed();
    }
#endif
};

TShowMusicPlayer::TShowMusicPlayer(std::function<void()> Failed) : impl_(std::make_unique<Impl>()) {
    impl_->failed = std::move(Failed);
}

TShowMusicPlayer::~TShowMusicPlayer() { Stop(); }

bool TShowMusicPlayer::Available() {
#ifdef GD_HAVE_MULTIMEDIA
    return true;
#else
    return false;
#endif
}

bool TShowMusicPlayer::Play(const std::string& FileName) {
#ifdef GD_HAVE_MULTIMEDIA
    Stop();
    if (QMediaDevices::audioOutputs().isEmpty()) return false;
    Impl* d = impl_.get();
    if (!d->player) {
        d->player = std::make_unique<QMediaPlayer>();
        d->output = std::make_unique<QAudioOutput>();
        d->player->setAudioOutput(d->output.get());
        // Errors arrive asynchronously; queued so the show never sees them inside a call.
        QObject::connect(d->player.get(), &QMediaPlayer::errorOccurred, d->player.get(),
                         [d] { d->Fail(); }, Qt::QueuedConnection);
        QObject::connect(d->player.get(), &QMediaPlayer::mediaStatusChanged, d->player.get(),
                         [d](QMediaPlayer::MediaStatus s) {
                             if (s == QMediaPlayer::InvalidMedia) d->Fail();
                         },
                         Qt::QueuedConnection);
    }
    d->player->setLoops(QMediaPlayer::Infinite);
    d->player->setSource(QUrl::fromLocalFile(QString::fromStdString(FileName)));
    d->playing = true;
    d->player->play();
    return true;
#else
    (void)FileName;
    return false;
#endif
}

void TShowMusicPlayer::Stop() {
#ifdef GD_HAVE_MULTIMEDIA
    Impl* d = impl_.get();
    d->playing = false;
    if (d->player) {
        d->player->stop();
        d->player->setSource(QUrl());
    }
#endif
}
