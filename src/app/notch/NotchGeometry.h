#pragma once

#include <QMetaType>
#include <QRectF>

namespace velto {

// Where the notch player sits on a screen, in Qt's global coordinates (origin top left, y
// down), in device-independent pixels. `safeTop` is the band the camera housing and the top
// bar take, `hardwareWidth` the housing's width; both are 0 on a screen without a housing.
struct NotchGeometry {
    Q_GADGET
    Q_PROPERTY(QRectF screen MEMBER screen)
    Q_PROPERTY(double safeTop MEMBER safeTop)
    Q_PROPERTY(double hardwareWidth MEMBER hardwareWidth)
    Q_PROPERTY(bool hasNotch READ hasNotch)

  public:
    QRectF screen;
    double safeTop = 0;
    double hardwareWidth = 0;

    // A top inset alone (no housing width) does not make a notch.
    bool hasNotch() const { return safeTop > 0 && hardwareWidth > 0; }
    // The panel's frame: centred on the screen, hanging from its top edge.
    Q_INVOKABLE QRectF frame(bool expanded) const;

    bool operator==(const NotchGeometry&) const = default;
};

}  // namespace velto

Q_DECLARE_METATYPE(velto::NotchGeometry)
