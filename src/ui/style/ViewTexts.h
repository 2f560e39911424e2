#pragma once

#include <QObject>
#include <QString>

namespace velto {

// Fixed labels of the shared small views that have no model of their own.
class ViewTexts : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString retry MEMBER retry_ CONSTANT)
    Q_PROPERTY(QString placeholderSymbol MEMBER placeholderSymbol_ CONSTANT)
    Q_PROPERTY(QString errorSymbol MEMBER errorSymbol_ CONSTANT)

public:
    using QObject::QObject;

    // The artwork placeholder's glyph size: a fraction of the square, never below 14.
    Q_INVOKABLE static double placeholderSize(double side);

private:
    QString retry_ = QStringLiteral("重试");
    QString placeholderSymbol_ = QStringLiteral("waveform");
    QString errorSymbol_ = QStringLiteral("exclamationmark.circle");
};

}  // namespace velto
