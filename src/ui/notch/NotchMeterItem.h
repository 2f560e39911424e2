#pragma once

#include <QPointer>
#include <QQuickPaintedItem>

#include "ui/notch/NotchMeterModel.h"

namespace velto {

// Draws the meter model's bars, centred, as one item: a swing repaints only this small square,
// with no bindings, layout or per-bar items to update seven times a second.
class NotchMeterItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(velto::NotchMeterModel* model READ model WRITE setModel NOTIFY modelChanged)

  public:
    static constexpr double barWidth = 3;
    static constexpr double barSpacing = 2;

    explicit NotchMeterItem(QQuickItem* parent = nullptr);

    NotchMeterModel* model() const { return model_; }
    void setModel(NotchMeterModel* model);

    void paint(QPainter* painter) override;

  signals:
    void modelChanged();

  private:
    QPointer<NotchMeterModel> model_;
};

}  // namespace velto
