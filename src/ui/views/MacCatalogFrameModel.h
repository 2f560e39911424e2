#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>

namespace velto {

// The catalog frame's header and page choice for the place on top of the panel's path. Every
// new place the frame is given makes a new page (so a new detail model); the frame itself
// keeps no state of the pages.
class MacCatalogFrameModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant destination READ destination WRITE setDestination NOTIFY destinationChanged)
    Q_PROPERTY(QString title READ title NOTIFY destinationChanged)
    // "artist", "album", "playlist", or empty without a place.
    Q_PROPERTY(QString kind READ kind NOTIFY destinationChanged)
    // One key per page: a new list whenever a new place is given, so the view makes a new page.
    Q_PROPERTY(QVariantList pageKeys READ pageKeys NOTIFY destinationChanged)
    Q_PROPERTY(QString backSymbol READ backSymbol CONSTANT)
    Q_PROPERTY(QString backLabel READ backLabel CONSTANT)

  public:
    using QObject::QObject;

    QVariant destination() const { return destination_; }
    void setDestination(const QVariant& destination);
    QString title() const;
    QString kind() const;
    QVariantList pageKeys() const;
    static QString backSymbol() { return QStringLiteral("chevron.left"); }
    static QString backLabel() { return QStringLiteral("返回搜索结果"); }

  signals:
    void destinationChanged();

  private:
    QVariant destination_;
    int generation_ = 0;
};

}  // namespace velto
