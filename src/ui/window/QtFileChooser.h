#pragma once

#include <QPointer>
#include <QRect>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/FileChooser.h"
#include "foundation/MainQueue.h"

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
    // `mainQueue` times the look at the start folder (see findStartFolder); none: it is looked at
    // on the caller's thread.
    explicit QtFileChooser(std::function<void()> ended = {}, std::function<QRect()> keptClear = {},
                           MainQueue* mainQueue = nullptr);
    ~QtFileChooser() override;

    // Where a dialog opens: the folder last used while it exists, else the user's music folder
    // (XDG_MUSIC_DIR) while it exists, else home.
    static QString startFolder(const QString& lastUsed,
                               const std::function<bool(const QString&)>& isFolder = {});
    // A look that has not answered within this, at a share that stopped answering, opens the
    // dialog at home instead.
    static constexpr std::chrono::milliseconds startFolderPatience{800};
    // The looks at start folders of one chooser; a look that ends after `queue` is cleared tells
    // nobody.
    struct StartFolderLooks {
        std::mutex mutex;
        MainQueue* queue = nullptr;
        bool looking = false;
    };
    // startFolder(lastUsed) looked at on a thread of its own, answered on the looks' queue once,
    // with home when the look has not answered within `patience` or one before it still hangs:
    // a stalled share holds neither the main thread nor more than one thread. On the main thread.
    static void findStartFolder(const std::shared_ptr<StartFolderLooks>& looks, const QString& lastUsed,
                                std::function<void(QString)> answer,
                                std::function<bool(const QString&)> isFolder = {},
                                MainQueue::Duration patience = startFolderPatience);
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
    // Non-native, in `folder`, at a size that shows the details.
    QFileDialog* prepare(QFileDialog* dialog, const QString& folder) const;
    // Runs `open` with the folder a dialog starts in, once it is known.
    void withStartFolder(std::function<void(const QString& folder)> open);
    void keepClear(QFileDialog* dialog) const;
    void open(const OpenRequest& request, const QString& folder,
              std::function<void(std::vector<std::filesystem::path>)> done);
    void save(const SaveRequest& request, const QString& folder,
              std::function<void(std::optional<std::filesystem::path>)> done);
    // `finished` answers with what was chosen (nothing when the dialog was cancelled).
    void present(QFileDialog* dialog,
                 std::function<QStringList(QFileDialog*, bool accepted)> finished);

    std::vector<QPointer<QFileDialog>> open_;
    std::function<void()> ended_;
    std::function<QRect()> keptClear_;
    QString lastFolder_;
    std::shared_ptr<StartFolderLooks> looks_ = std::make_shared<StartFolderLooks>();
    // Answers that come after the chooser has gone find nobody.
    std::shared_ptr<int> alive_ = std::make_shared<int>();
};

}  // namespace velto
