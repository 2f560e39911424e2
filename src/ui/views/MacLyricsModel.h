#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/MainQueue.h"
#include "playback/LyricsDocument.h"
#include "playback/PlaybackService.h"

namespace velto {

// The lyrics list: lines with their translations, the current line from the playback position,
// and the follow rules, which ask the view to centre a line through scrollRequested.
class MacLyricsModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(QString lineCountText READ lineCountText NOTIFY documentChanged)
    Q_PROPERTY(bool follows READ follows WRITE setFollows NOTIFY followsChanged)
    Q_PROPERTY(int currentIndex READ currentIndexValue NOTIFY currentIndexChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(QString followLabel MEMBER followLabel_ CONSTANT)
    Q_PROPERTY(QString followHelp MEMBER followHelp_ CONSTANT)

public:
    enum Role {
        TextRole = Qt::UserRole + 1,
        TranslationRole,
        TooltipRole,
        TimeRole,
        CurrentRole,
        HasTranslationRole
    };

    static constexpr double translationTolerance = 0.08;

    MacLyricsModel(PlaybackService* playback, MainQueue& mainQueue, QObject* parent = nullptr);
    ~MacLyricsModel() override;

    // A document whose first line differs from the last one's (or the first document) jumps to
    // the current line after one main-queue turn, without animation, while following.
    void setDocument(LyricsDocument document);
    const LyricsDocument& document() const { return document_; }

    QString lineCountText() const;
    bool follows() const { return follows_; }
    void setFollows(bool follows);
    std::optional<std::size_t> currentIndex() const { return current_; }
    // The position at which the current line next changes while playing on (infinity: never).
    double nextLineTime(double elapsed) const;
    int currentIndexValue() const { return current_ ? int(*current_) : -1; }
    bool reduceMotion() const { return reduceMotion_; }
    void setReduceMotion(bool value);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // A tap on a line seeks to its time.
    Q_INVOKABLE void seekTo(int row);
    // A new lyrics view (the tab opened, a new song's lyrics shown) follows again and, after one
    // main-queue turn, jumps to the current line without animation.
    Q_INVOKABLE void viewAppeared();

signals:
    void documentChanged();
    void followsChanged();
    void currentIndexChanged();
    void reduceMotionChanged();
    void scrollRequested(int index, bool animated);

private:
    void followPlayback();
    void updateCurrent(bool allowScroll);
    void scrollTo(std::size_t index, bool animated);
    void jumpToCurrentSoon();

    QPointer<PlaybackService> playback_;
    MainQueue& mainQueue_;
    LyricsDocument document_;
    std::vector<std::optional<std::string>> translations_;
    bool hasDocument_ = false;
    std::optional<std::string> firstLineID_;
    std::optional<std::size_t> current_;
    bool follows_ = true;
    bool reduceMotion_ = false;
    QString followLabel_ = QStringLiteral("跟随播放");
    QString followHelp_ = QStringLiteral("跟随播放滚动歌词");
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velto
