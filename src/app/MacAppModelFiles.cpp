#include "app/MacAppModel.h"

#include <algorithm>

#include "app/BackupFileReader.h"
#include "app/ErrorText.h"
#include "app/FileChooser.h"
#include "foundation/files/AtomicFile.h"
#include "foundation/Log.h"
#include "library/store/LibraryStore.h"
#include "library/exchange/StoreRecoveryArchive.h"
#include "playback/LocalAudioScanner.h"

namespace velto {

void MacAppModel::importLocalMusic() {
    if (!library_ || !environment_.fileChooser) return;
    FileChooser::OpenRequest request;
    request.message = "选择音频文件或音乐文件夹 (支持 MP3, FLAC, M4A, WAV 等)";
    request.confirmTitle = "导入";
    request.files = true;
    request.folders = true;
    request.multiple = true;
    std::weak_ptr<int> alive = alive_;
    // The import keeps the store it began with, whatever happens to the model's.
    environment_.fileChooser->chooseToOpen(
        request, [this, alive, store = library_](std::vector<std::filesystem::path> chosen) {
            if (alive.expired() || chosen.empty()) return;
            runner_.run(
                alive_, lifetime_.get_token(),
                [chosen](std::stop_token stop) { return LocalAudioScanner::scan(chosen, stop); },
                [this, store](TaskResult<std::vector<Track>>& result) {
                    if (!result.ok()) return;
                    storeScannedSongs(store, std::move(result.value()));
                });
        });
}

// Stored a batch per turn of the main thread, so that a large folder does not freeze the views.
struct MacAppModel::LocalImport {
    std::shared_ptr<LibraryStore> store;
    std::vector<Track> songs;
    std::size_t next = 0;
    std::size_t inserted = 0;
    std::size_t failed = 0;
};

void MacAppModel::storeScannedSongs(const std::shared_ptr<LibraryStore>& store,
                                    std::vector<Track> songs) {
    if (songs.empty()) {
        setErrorMessage("未在所选文件或目录中找到受支持的音频文件");
        return;
    }
    auto import = std::make_shared<LocalImport>();
    import->store = store;
    import->songs = std::move(songs);
    storeNextBatch(import);
}

void MacAppModel::storeNextBatch(const std::shared_ptr<LocalImport>& import) {
    const auto end = std::min(import->songs.size(), import->next + localImportBatch);
    for (; import->next < end; ++import->next) {
        try {
            if (import->store->collect(import->songs[import->next]).inserted) ++import->inserted;
        } catch (const std::exception& error) {
            ++import->failed;
            Log::error("app", std::string("local song not stored: ") + error.what());
        }
    }
    if (import->next < import->songs.size()) {
        std::weak_ptr<int> alive = alive_;
        environment_.mainQueue->post([this, alive, import] {
            if (!alive.expired()) storeNextBatch(import);
        });
        return;
    }
    reloadLibrary();
    setNotice("已导入 " + std::to_string(import->inserted) + " 首本地歌曲，重复项已跳过");
    // A song that could not be stored is not a duplicate; say so rather than pass it over.
    if (import->failed > 0) setErrorMessage("收藏未保存，请重试。");
}

void MacAppModel::importBackup() {
    if (!library_ || !environment_.fileChooser) return;
    FileChooser::OpenRequest request;
    request.message = "导入 Velto 歌单备份，已有歌曲会自动去重。";
    request.files = true;
    request.jsonOnly = true;
    std::weak_ptr<int> alive = alive_;
    environment_.fileChooser->chooseToOpen(
        request, [this, alive, store = library_](std::vector<std::filesystem::path> chosen) {
            if (alive.expired() || chosen.empty()) return;
            runner_.run(
                alive_, lifetime_.get_token(),
                [file = chosen.front()](std::stop_token stop) {
                    return BackupFileReader::read(file, stop);
                },
                [this, store](TaskResult<std::string>& bytes) {
                    if (isCancellation(bytes.error())) return;
                    try {
                        const auto result = store->importPersonalPlaylist(bytes.value());
                        reloadLibrary();
                        setNotice("已导入 " + std::to_string(result.insertedCount) + " 首歌曲，跳过 " +
                                  std::to_string(result.skippedCount) + " 首重复歌曲");
                    } catch (...) {
                        setErrorMessage("导入失败：" +
                                        ErrorText::describe(std::current_exception(), "app"));
                    }
                });
        });
}

void MacAppModel::exportBackup() {
    if (!library_) return;
    const auto failed = [this](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& reason) {
            Log::error("app", std::string("backup export failed: ") + reason.what());
        } catch (...) {
            Log::error("app", "backup export failed");
        }
        setErrorMessage("导出失败，请重试。");
    };
    Playlist personal;
    try {
        personal = library_->ensurePersonalPlaylist();
    } catch (const std::exception&) {
        return failed(std::current_exception());
    }
    // Writing the backup reads every song's payload: a worker does it, before the chooser opens.
    runner_.run(
        alive_, lifetime_.get_token(),
        [personal = std::move(personal)](std::stop_token) {
            return LibraryStore::exportPlaylist(personal);
        },
        [this, failed](TaskResult<std::string>& result) {
            if (isCancellation(result.error())) return;
            if (!result.ok()) return failed(result.error());
            save(std::move(result.value()), "Velto-歌单.json", "歌单备份已导出");
        });
}

void MacAppModel::exportRecovery() {
    if (!environment_.fileChooser) return;
    FileChooser::SaveRequest request;
    request.suggestedName = "Velto-资料库恢复.json";
    request.jsonOnly = true;
    std::weak_ptr<int> alive = alive_;
    // The archive is as large as the store: it goes straight to the chosen file on a worker.
    environment_.fileChooser->chooseToSave(
        request, [this, alive, store = storePath()](std::optional<std::filesystem::path> destination) {
            if (alive.expired() || !destination) return;
            runner_.run(
                alive_, lifetime_.get_token(),
                [store, destination = *destination](std::stop_token stop) {
                    StoreRecoveryArchive::captureTo(store, destination, stop);
                },
                [this](TaskResult<Unit>& result) {
                    if (result.ok() || isCancellation(result.error())) return;
                    const std::string text = ErrorText::describe(result.error(), "app");
                    try {
                        std::rethrow_exception(result.error());
                    } catch (const StoreRecoveryArchive::RecoveryError&) {
                        setErrorMessage(text);
                    } catch (const StoreRecoveryArchive::FileError&) {
                        setErrorMessage(text);
                    } catch (...) {
                        setErrorMessage("文件未能保存，请重试。");
                    }
                });
        });
}

void MacAppModel::save(std::string data, std::string name,
                       std::optional<std::string> successMessage) {
    if (!environment_.fileChooser) return;
    FileChooser::SaveRequest request;
    request.suggestedName = std::move(name);
    request.jsonOnly = true;
    std::weak_ptr<int> alive = alive_;
    environment_.fileChooser->chooseToSave(
        request, [this, alive, data = std::move(data), successMessage = std::move(successMessage)](
                     std::optional<std::filesystem::path> destination) mutable {
            if (alive.expired() || !destination) return;
            runner_.run(
                alive_, lifetime_.get_token(),
                [data = std::move(data), destination = *destination](std::stop_token) {
                    writeFileAtomically(destination, data, 0644);
                },
                [this, successMessage](TaskResult<Unit>& result) {
                    if (isCancellation(result.error())) return;
                    if (!result.ok()) {
                        ErrorText::describe(result.error(), "app");
                        setErrorMessage("文件未能保存，请重试。");
                        return;
                    }
                    if (successMessage) setNotice(*successMessage);
                });
        });
}

}  // namespace velto
