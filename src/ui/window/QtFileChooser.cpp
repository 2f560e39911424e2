#include "ui/window/QtFileChooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QStandardPaths>
#include <QTreeView>
#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "playback/LocalAudioScanner.h"

namespace velto {
namespace {

const QString jsonFilter = QStringLiteral("JSON 文件 (*.json)");
// Wide enough for the detail view's name, size, type and date columns.
constexpr QSize dialogSize(900, 560);
// Between a dialog and the notch above it.
constexpr int gap = 8;
// A title bar, until the window manager has given the dialog its frame.
constexpr int titleBar = 32;

// The detail view's size, type and date columns as wide as what they show, the name taking the
// rest; the side bar wide enough for its folder names.
void fitColumns(QFileDialog* dialog) {
    if (auto* details = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    if (auto* splitter = dialog->findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({180, dialogSize.width() - 180});
}

// In a files mode the dialog takes a chosen folder as a wish to enter it. Where folders may be
// chosen too, a selection whose entries all exist is taken as it is; entering a folder stays a
// double click.
class FilesAndFoldersDialog final : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        const bool allExist = std::all_of(files.begin(), files.end(),
                                          [](const QString& file) { return QFileInfo::exists(file); });
        if (files.isEmpty() || !allExist) return QFileDialog::accept();
        chosen = files;
        QDialog::accept();
    }

    QStringList chosen;
};

std::filesystem::path localPath(const QString& file) {
    return std::filesystem::path(QFile::encodeName(file).toStdString());
}

}  // namespace

QtFileChooser::QtFileChooser(std::function<void()> ended, std::function<QRect()> keptClear,
                             MainQueue* mainQueue)
    : ended_(std::move(ended)), keptClear_(std::move(keptClear)) {
    looks_->queue = mainQueue;
}

QRect QtFileChooser::placed(QSize frame, QRect area, QRect obstacle, int minimumHeight) {
    QRect placed(QPoint(), frame.boundedTo(area.size()));
    placed.moveCenter(area.center());
    placed.moveLeft(std::max(placed.left(), area.left()));
    placed.moveTop(std::max(placed.top(), area.top()));
    if (obstacle.isEmpty() || !placed.intersects(obstacle)) return placed;
    const int top = obstacle.bottom() + 1 + gap;
    placed.moveTop(std::max(placed.top(), top));
    if (placed.bottom() > area.bottom())
        placed.setBottom(std::max(area.bottom(), placed.top() + minimumHeight - 1));
    return placed;
}

QString QtFileChooser::startFolder(const QString& lastUsed,
                                   const std::function<bool(const QString&)>& isFolder) {
    const auto folder = [&](const QString& path) {
        return !path.isEmpty() && (isFolder ? isFolder(path) : QFileInfo(path).isDir());
    };
    if (folder(lastUsed)) return lastUsed;
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (folder(music)) return music;
    return QDir::homePath();
}

void QtFileChooser::findStartFolder(const std::shared_ptr<StartFolderLooks>& looks,
                                    const QString& lastUsed, std::function<void(QString)> answer,
                                    std::function<bool(const QString&)> isFolder,
                                    MainQueue::Duration patience) {
    MainQueue* mainQueue;
    bool looking;
    {
        std::lock_guard lock(looks->mutex);
        mainQueue = looks->queue;
        if (!mainQueue) return;
        looking = std::exchange(looks->looking, true);
    }
    MainQueue& queue = *mainQueue;
    if (looking) {
        queue.post([answer = std::move(answer)] { answer(QDir::homePath()); });
        return;
    }
    struct Once {
        std::function<void(QString)> answer;
        MainQueue::TimerId timer = 0;
    };
    auto once = std::make_shared<Once>();
    once->answer = std::move(answer);
    // Runs on the main queue only: the look's answer or the timer's, whichever comes first.
    auto give = [once, &queue](const QString& folder) {
        if (!once->answer) return;
        queue.cancel(once->timer);
        std::exchange(once->answer, nullptr)(folder);
    };
    once->timer = queue.schedule(patience, [give] { give(QDir::homePath()); });
    try {
        // Detached: a look at a share that stopped answering ends only when the share does.
        std::thread([looks, lastUsed, give, isFolder = std::move(isFolder)] {
            QString folder = startFolder(lastUsed, isFolder);
            std::lock_guard lock(looks->mutex);
            looks->looking = false;
            if (looks->queue) looks->queue->post([give, folder = std::move(folder)] { give(folder); });
        }).detach();
    } catch (const std::system_error&) {
        // No thread to look with: the timer opens the dialog at home.
        std::lock_guard lock(looks->mutex);
        looks->looking = false;
    }
}

QString QtFileChooser::folderUsed(const QString& browsed, const QStringList& chosen) {
    if (chosen.isEmpty()) return browsed;
    return QFileInfo(chosen.front()).absolutePath();
}

QStringList QtFileChooser::audioFilters() {
    QStringList patterns;
    // The file dialog matches them in any case, as the scanner does.
    for (const std::string& extension : LocalAudioScanner::supportedExtensions()) {
        const QString lower = QString::fromStdString(extension);
        patterns << QStringLiteral("*.") + lower;
    }
    return {QStringLiteral("音频文件 (%1)").arg(patterns.join(QLatin1Char(' '))),
            QStringLiteral("所有文件 (*)")};
}

QtFileChooser::~QtFileChooser() {
    {
        std::lock_guard lock(looks_->mutex);
        looks_->queue = nullptr;
    }
    // Whoever asked may be going too: a dialog left open answers nobody.
    for (const auto& dialog : open_) {
        if (!dialog) continue;
        dialog->disconnect();
        delete dialog.data();
    }
}

void QtFileChooser::withStartFolder(std::function<void(const QString& folder)> open) {
    if (!looks_->queue) return open(startFolder(lastFolder_));
    findStartFolder(looks_, lastFolder_,
                    [alive = std::weak_ptr<int>(alive_), open = std::move(open)](QString folder) {
                        if (alive.lock()) open(folder);
                    });
}

QFileDialog* QtFileChooser::prepare(QFileDialog* dialog, const QString& folder) const {
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Before a suggested name, which a change of folder would clear.
    dialog->setDirectory(folder);
    dialog->resize(dialogSize);
    return dialog;
}

// The dialog opens on the notch's screen clear of the notch: on a low screen the collapsed notch
// would cover its title bar.
void QtFileChooser::keepClear(QFileDialog* dialog) const {
    const QRect obstacle = keptClear_ ? keptClear_() : QRect();
    if (obstacle.isEmpty()) return;
    QScreen* screen = QGuiApplication::screenAt(obstacle.center());
    if (!screen) return;
    const QSize decoration(0, titleBar);
    const QRect frame = placed(dialog->size() + decoration, screen->availableGeometry(), obstacle,
                               dialog->minimumSizeHint().height() + decoration.height());
    dialog->resize(frame.size() - decoration);
    dialog->move(frame.topLeft());
}

void QtFileChooser::present(QFileDialog* dialog,
                            std::function<QStringList(QFileDialog*, bool accepted)> finished) {
    std::erase_if(open_, [](const QPointer<QFileDialog>& open) { return open.isNull(); });
    open_.emplace_back(dialog);
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [this, dialog, finished = std::move(finished)](int result) {
                         const QStringList chosen = finished(dialog, result == QDialog::Accepted);
                         lastFolder_ = folderUsed(dialog->directory().absolutePath(), chosen);
                         if (ended_) ended_();
                     });
    keepClear(dialog);
    dialog->open();
    fitColumns(dialog);
}

void QtFileChooser::chooseToOpen(const OpenRequest& request,
                                 std::function<void(std::vector<std::filesystem::path>)> done) {
    withStartFolder([this, request, done = std::move(done)](const QString& folder) mutable {
        open(request, folder, std::move(done));
    });
}

void QtFileChooser::open(const OpenRequest& request, const QString& folder,
                         std::function<void(std::vector<std::filesystem::path>)> done) {
    const bool mixed = request.files && request.folders;
    QFileDialog* dialog = prepare(mixed ? new FilesAndFoldersDialog : new QFileDialog, folder);
    dialog->setWindowTitle(QString::fromStdString(request.message));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (request.files) {
        dialog->setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    } else {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    }
    if (request.jsonOnly) dialog->setNameFilter(jsonFilter);
    else if (request.files) dialog->setNameFilters(audioFilters());
    if (!request.confirmTitle.empty())
        dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(request.confirmTitle));
    present(dialog, [mixed, done = std::move(done)](QFileDialog* dialog, bool accepted) {
        QStringList files;
        if (accepted)
            files = mixed ? static_cast<FilesAndFoldersDialog*>(dialog)->chosen : dialog->selectedFiles();
        std::vector<std::filesystem::path> chosen;
        for (const QString& file : files) chosen.push_back(localPath(file));
        done(std::move(chosen));
        return files;
    });
}

void QtFileChooser::chooseToSave(const SaveRequest& request,
                                 std::function<void(std::optional<std::filesystem::path>)> done) {
    withStartFolder([this, request, done = std::move(done)](const QString& folder) mutable {
        save(request, folder, std::move(done));
    });
}

void QtFileChooser::save(const SaveRequest& request, const QString& folder,
                         std::function<void(std::optional<std::filesystem::path>)> done) {
    QFileDialog* dialog = prepare(new QFileDialog, folder);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (request.jsonOnly) {
        dialog->setNameFilter(jsonFilter);
        dialog->setDefaultSuffix(QStringLiteral("json"));
    }
    dialog->selectFile(QString::fromStdString(request.suggestedName));
    present(dialog, [done = std::move(done)](QFileDialog* dialog, bool accepted) {
        const QStringList files = accepted ? dialog->selectedFiles() : QStringList{};
        if (files.isEmpty()) done(std::nullopt);
        else done(localPath(files.front()));
        return files;
    });
}

}  // namespace velto
