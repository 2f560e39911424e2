#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <string>

#include "sources/model/Track.h"
#include "ui/artwork/MacArtworkLoader.h"

Q_DECLARE_METATYPE(velto::Track)

namespace velto {

// The picture of one artwork view. The song's cover is loaded by the song's key: a new key
// clears the picture at once and restarts the load, and an answer for an earlier key or after
// a failure never shows; a cover of the key that comes late is asked for again. Without a
// cover the address's picture shows; else nothing (the view's placeholder).
class MacArtworkModel : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(velto::MacArtworkLoader* loader READ loader WRITE setLoader NOTIFY loaderChanged)
    Q_PROPERTY(QVariant track READ trackValue WRITE setTrackValue NOTIFY trackChanged)
    Q_PROPERTY(QString url READ url WRITE setURL NOTIFY urlChanged)
    Q_PROPERTY(QImage image READ image NOTIFY imageChanged)
    Q_PROPERTY(bool hasImage READ hasImage NOTIFY imageChanged)

public:
    explicit MacArtworkModel(QObject* parent = nullptr);
    ~MacArtworkModel() override;

    MacArtworkLoader* loader() const { return loader_; }
    void setLoader(MacArtworkLoader* loader);
    QVariant trackValue() const;
    void setTrackValue(const QVariant& value);
    void setTrack(std::optional<Track> track);
    QString url() const { return url_; }
    void setURL(const QString& url);
    QImage image() const;
    bool hasImage() const { return !image().isNull(); }

    void classBegin() override { creating_ = true; }
    void componentComplete() override;

signals:
    void loaderChanged();
    void trackChanged();
    void urlChanged();
    void imageChanged();

private:
    struct Load {
        std::uint64_t generation = 0;
        MacArtworkLoader::Cancel cancel;
        QImage image;
    };
    void restartTrack();
    void restartAddress();
    void stop(Load& load);
    void answer(Load& load, std::uint64_t generation, std::optional<QImage> image);
    void coverCameLate(const QString& key);

    QPointer<MacArtworkLoader> loader_;
    QMetaObject::Connection lateCovers_;
    std::optional<Track> track_;
    std::optional<std::string> key_;
    QString url_;
    Load cover_;
    Load picture_;
    bool creating_ = false;
};

}  // namespace velto
