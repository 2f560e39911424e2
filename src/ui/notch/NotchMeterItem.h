#pragma once

#include <QColor>
#include <QPointer>
#include <QQuickPaintedItem>

#include "ui/notch/NotchMeterModel.h"

namespace velto {

// Draws the meter model's bars, centred, as one item: a swing repaints only this small square,
// with no bindings, layout or per-bar items to update seven times a second.
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

    NotchMeterModel* model() const { return model_; }
    void setModel(NotchMeterModel* model);
    QColor backdrop() const { return fillColor(); }
    void setBackdrop(const QColor& colour);

    void paint(QPainter* painter) override;

  signals:
    void modelChanged();
    void backdropChanged();

  private:
    QPointer<NotchMeterModel> model_;
};

}  // namespace velto
