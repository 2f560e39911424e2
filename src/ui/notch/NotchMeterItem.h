#pragma once

#include <QColor>
#include <QPointer>
#include <QQuickPaintedItem>
#include <memory>

#include "ui/notch/NotchMeterModel.h"

namespace velto {

class X11MeterWindow;

// Draws the meter model's bars, centred, as one item: a swing repaints only this small square,
// with no bindings, layout or per-bar items to update seven times a second. On X the bars go
// to a small window of their own over the item instead, which steps the swing by itself, so
// that a step costs no frame of the whole window and no wait for the server.
class NotchMeterItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(velto::NotchMeterModel* model READ model WRITE setModel NOTIFY modelChanged)
    // The solid colour the bars stand on. An opaque one is painted under them, so that a new
    // frame covers this square alone and nothing beneath it is drawn or sent again.
    Q_PROPERTY(QColor backdrop READ backdrop WRITE setBackdrop NOTIFY backdropChanged)

  public:
    static constexpr double barWidth = 3;
    static constexpr double barSpacing = 2;

    explicit NotchMeterItem(QQuickItem* parent = nullptr);
    ~NotchMeterItem() override;

    NotchMeterModel* model() const { return model_; }
    void setModel(NotchMeterModel* model);
    QColor backdrop() const { return fillColor(); }
    void setBackdrop(const QColor& colour);

    void paint(QPainter* painter) override;
    // The bars at these heights, centred in `size`.
    static void paintBars(QPainter& painter, QSizeF size, const QList<double>& heights, double opacity);

  signals:
    void modelChanged();
    void backdropChanged();

  protected:
    void itemChange(ItemChange change, const ItemChangeData& value) override;

  private:
    void showModel();
    void useNativeWhereDue(QQuickWindow* window);
    void placeNative();

    QPointer<NotchMeterModel> model_;
    std::unique_ptr<X11MeterWindow> native_;
    QMetaObject::Connection frames_;
    QMetaObject::Connection shownChanges_;
};

}  // namespace velto
