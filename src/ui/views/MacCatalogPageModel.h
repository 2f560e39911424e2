#pragma once

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QString>
#include <QVariant>
#include <optional>
#include <string>
#include <vector>

#include "app/MacCatalogDestination.h"
#include "ui/views/MacCatalogServices.h"
#include "ui/views/MacTrackListModel.h"

namespace velto {

// What the three catalog pages share: the header (name, picture, subtitle, play), the error
// row, the content choice and the song list. A page builds its own detail model when QML has
// set its services and destination, so the model lives exactly as long as the page item.
class MacCatalogPageModel : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(velto::MacCatalogServices* services READ services WRITE setServices NOTIFY servicesChanged)
    Q_PROPERTY(QVariant destination READ destination WRITE setDestination NOTIFY destinationChanged)
    Q_PROPERTY(velto::MacTrackListModel* tracks READ trackList NOTIFY builtChanged)
    Q_PROPERTY(velto::MacArtworkLoader* artworkLoader READ artworkLoader NOTIFY builtChanged)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(QString imageURL READ imageURL NOTIFY imageURLChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY subtitleChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY errorChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    // What fills the page below the error row: "loading", "tracks", "empty" and, on the
    // artist page, "albums".
    Q_PROPERTY(QString content READ content NOTIFY contentChanged)
    Q_PROPERTY(bool playEnabled READ playEnabled NOTIFY playEnabledChanged)
    Q_PROPERTY(QString playTitle READ playTitle CONSTANT)
    Q_PROPERTY(QString playSymbol READ playSymbol CONSTANT)

  public:
    explicit MacCatalogPageModel(QObject* parent = nullptr);

    MacCatalogServices* services() const { return services_; }
    void setServices(MacCatalogServices* services);
    QVariant destination() const { return destination_; }
    void setDestination(const QVariant& destination);
    MacTrackListModel* trackList() const { return trackList_; }
    MacArtworkLoader* artworkLoader() const { return services_ ? services_->artwork() : nullptr; }
    bool built() const { return built_; }

    QString name() const { return name_; }
    QString imageURL() const { return imageURL_; }
    QString subtitle() const { return subtitle_; }
    QString error() const { return error_; }
    bool hasError() const { return !error_.isEmpty(); }
    bool isLoading() const { return isLoading_; }
    QString content() const { return content_; }
    bool playEnabled() const { return trackList_ && trackList_->count() > 0; }
    static QString playTitle() { return QStringLiteral("播放"); }
    static QString playSymbol() { return QStringLiteral("play.fill"); }

    // The page became visible (also its first showing) and stopped being visible.
    Q_INVOKABLE virtual void appear() = 0;
    Q_INVOKABLE virtual void disappear() {}
    // The error row's retry.
    Q_INVOKABLE virtual void retry() = 0;
    // The header's play button: the songs the page offers, from the first.
    Q_INVOKABLE void play();

    void classBegin() override {}
    void componentComplete() override;

  signals:
    void servicesChanged();
    void destinationChanged();
    void builtChanged();
    void nameChanged();
    void imageURLChanged();
    void subtitleChanged();
    void errorChanged();
    void isLoadingChanged();
    void contentChanged();
    void playEnabledChanged();
    // Opens a further place (a MacCatalogDestination) on top of this one; `from` is this one
    // with how its page was left, or nothing.
    void push(const QVariant& destination, const QVariant& from);

  protected:
    // Makes the detail model from the destination; false when it is not of the page's kind.
    virtual bool build(const MacCatalogDestination& destination) = 0;
    // Re-reads the detail model into the properties above.
    virtual void refresh() = 0;

    void setTracks(ListedTracks tracks);
    void setHeader(const std::string& name, const std::optional<std::string>& imageURL,
                   const std::string& subtitle);
    void setError(const std::optional<std::string>& error);
    void setLoading(bool loading);
    void setContent(const QString& content);

  private:
    template <class T>
    void assign(T& field, T value, void (MacCatalogPageModel::*changed)()) {
        if (field == value) return;
        field = std::move(value);
        emit(this->*changed)();
    }

    QPointer<MacCatalogServices> services_;
    QVariant destination_;
    MacTrackListModel* trackList_ = nullptr;
    bool built_ = false;
    QString name_, imageURL_, subtitle_, error_, content_;
    bool isLoading_ = false;
};

}  // namespace velto
