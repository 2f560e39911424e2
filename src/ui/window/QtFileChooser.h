#pragma once

#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

#include "app/FileChooser.h"

class QFileDialog;

namespace velto {

// The application model's open and save dialogs, on Qt's own (non-native) file dialog: neither
// the desktop portal nor the native dialogs let one selection hold files and folders together.
// Needs a QApplication; the dialogs open without blocking and answer when they close.
// They open in the user's music folder (else home) and then in the folder last used.
class QtFileChooser final : public FileChooser {
  public:
    // `ended` runs after each dialog has answered (the panel it came from closed as it opened);
    // `keptClear` tells what the dialogs leave uncovered (the notch player hanging from the top
    // of a screen; empty when there is none).
    explicit QtFileChooser(std::function<void()> ended = {}, std::function<QRect()> keptClear = {});
    ~QtFileChooser() override;

    // Where a dialog opens: the folder last used while it exists, else the user's music folder
    // (XDG_MUSIC_DIR) while it exists, else home.
    static QString startFolder(const QString& lastUsed);
    // The folder a dialog leaves as last used: the one holding what was chosen (a path typed into
    // the name field never changes the folder browsed), else the one browsed.
    static QString folderUsed(const QString& browsed, const QStringList& chosen);
    // "音频文件 (…)" over the extensions the scanner reads, then all files.
    static QStringList audioFilters();
    // Where a dialog whose frame is `frame` large goes on a screen's usable `area`: centred, and
    // below `obstacle` where its span across meets the obstacle's, the frame made shorter (never
    // below `minimumHeight`) where the room below is less than its height.
    static QRect placed(QSize frame, QRect area, QRect obstacle, int minimumHeight);

    void chooseToOpen(const OpenRequest& request,
                      std::function<void(std::vector<std::filesystem::path>)> done) override;
    void chooseToSave(const SaveRequest& request,
                      std::function<void(std::optional<std::filesystem::path>)> done) override;

  private:
    // Non-native, in the start folder, at a size that shows the details.
    QFileDialog* prepare(QFileDialog* dialog) const;
    void keepClear(QFileDialog* dialog) const;
    // `finished` answers with what was chosen (nothing when the dialog was cancelled).
    void present(QFileDialog* dialog,
                 std::function<QStringList(QFileDialog*, bool accepted)> finished);

    std::vector<QPointer<QFileDialog>> open_;
    std::function<void()> ended_;
    std::function<QRect()> keptClear_;
    QString lastFolder_;
};

}  // namespace velto
