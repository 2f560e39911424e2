#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <string>

#include "playback/PlaybackService.h"

namespace velto {

// What the transport capsule shows and does, read from and sent to the playback service.
class MacPlaybackControlsModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString modeSymbol READ modeSymbol NOTIFY modeChanged)
    Q_PROPERTY(QString modeName READ modeName NOTIFY modeChanged)
    Q_PROPERTY(QString modeHelp READ modeHelp NOTIFY modeChanged)
    Q_PROPERTY(QString playSymbol READ playSymbol NOTIFY playChanged)
    Q_PROPERTY(QString playLabel READ playLabel NOTIFY playChanged)
    Q_PROPERTY(bool transportEnabled READ transportEnabled NOTIFY transportEnabledChanged)
    Q_PROPERTY(double volume READ volume NOTIFY volumeChanged)
    Q_PROPERTY(QString speakerSymbol READ speakerSymbol NOTIFY volumeChanged)
    Q_PROPERTY(QString volumeHelp READ volumeHelp NOTIFY volumeChanged)
    Q_PROPERTY(QString label MEMBER label_ CONSTANT)
    Q_PROPERTY(QString modeButtonLabel MEMBER modeButtonLabel_ CONSTANT)
    Q_PROPERTY(QString previousLabel MEMBER previousLabel_ CONSTANT)
    Q_PROPERTY(QString nextLabel MEMBER nextLabel_ CONSTANT)
    Q_PROPERTY(QString volumeLabel MEMBER volumeLabel_ CONSTANT)
    Q_PROPERTY(QString previousSymbol MEMBER previousSymbol_ CONSTANT)
    Q_PROPERTY(QString nextSymbol MEMBER nextSymbol_ CONSTANT)

public:
    using Mode = PlaybackService::PlaybackMode;
    using Kind = PlaybackService::StateKind;

    struct ModeInfo {
        const char* symbol;
        const char* name;
        const char* description;
    };

    explicit MacPlaybackControlsModel(PlaybackService* playback, QObject* parent = nullptr);

    // The click cycle: sequence → shuffle → repeatOne → playInOrder → sequence.
    static Mode nextMode(Mode mode);
    static const ModeInfo& info(Mode mode);
    static std::string modeHelp(Mode mode);
    static std::string playLabel(Kind state, bool playbackRequested);
    static std::string playSymbol(bool playbackRequested);
    static std::string speakerSymbol(double volume);
    // Volume × 100 rounded, halves away from zero.
    static long volumePercent(double volume);

    QString modeSymbol() const;
    QString modeName() const;
    QString modeHelp() const;
    QString playSymbol() const;
    QString playLabel() const;
    bool transportEnabled() const;
    double volume() const;
    QString speakerSymbol() const;
    QString volumeHelp() const;

    Q_INVOKABLE void cycleMode();
    Q_INVOKABLE void previous();
    Q_INVOKABLE void togglePlayback();
    Q_INVOKABLE void next();
    Q_INVOKABLE void setVolume(double volume);

signals:
    void modeChanged();
    void playChanged();
    void transportEnabledChanged();
    void volumeChanged();

private:
    QPointer<PlaybackService> playback_;
    bool transportEnabled_ = false;
    QString label_ = QStringLiteral("播放控制");
    QString modeButtonLabel_ = QStringLiteral("切换播放模式");
    QString previousLabel_ = QStringLiteral("上一首");
    QString nextLabel_ = QStringLiteral("下一首");
    QString volumeLabel_ = QStringLiteral("音量");
    QString previousSymbol_ = QStringLiteral("backward.end.fill");
    QString nextSymbol_ = QStringLiteral("forward.end.fill");
};

}  // namespace velto
