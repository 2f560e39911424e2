#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_set>

#include "app/AppTaskRunner.h"
#include "library/store/LibraryStore.h"
#include "library/online/OnlinePlaylistImporting.h"
#include "library/online/OnlinePlaylistPreview.h"
#include "library/exchange/PlaylistImportResult.h"
#include "ui/artwork/MacArtworkLoader.h"

namespace velto {

// The online playlist import sheet: a pasted link or id is read on a worker into a preview,
// the songs already collected are marked, and saving merges the songs into the personal
// playlist. Every change of the input or the source resets the sheet and drops a reading
// under way; a reading that is no longer the current request changes nothing.
class OnlinePlaylistImportModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString input READ input WRITE setInput NOTIFY inputChanged)
    Q_PROPERTY(bool clearVisible READ clearVisible NOTIFY inputChanged)
    Q_PROPERTY(bool inputFocused READ inputFocused WRITE setInputFocused NOTIFY inputFocusedChanged)
    // "idle", "loading", "loaded", "failed", "imported".
    Q_PROPERTY(QString state READ stateName NOTIFY stateChanged)
    Q_PROPERTY(QString failureMessage READ failureMessage NOTIFY stateChanged)
    Q_PROPERTY(QString saveError READ saveErrorText NOTIFY saveErrorChanged)
    Q_PROPERTY(bool hasSaveError READ hasSaveError NOTIFY saveErrorChanged)
    // The loaded preview as the sheet shows it (empty otherwise): sourceName, name, countsText,
    // collectText, incomplete, incompleteText, duplicateText, isEmpty, rows (title, detail,
    // existing, track), remainderText, firstTrack.
    Q_PROPERTY(QVariantMap preview READ previewValue NOTIFY previewChanged)
    // The footer: kind ("confirm", "replace", "done", "cancel", "read"), title, id, enabled,
    // note.
    Q_PROPERTY(QVariantMap footer READ footerValue NOTIFY footerChanged)
    // The imported result: inserted, skipped, totalText.
    Q_PROPERTY(QVariantMap result READ resultValue NOTIFY stateChanged)
    Q_PROPERTY(QVariantMap texts READ texts CONSTANT)
    Q_PROPERTY(velto::MacArtworkLoader* artworkLoader READ artworkLoader CONSTANT)

  public:
    enum class State { idle, loading, loaded, failed, imported };
    static constexpr std::size_t previewRowLimit = 20;

    // `library` and `artwork` may be null; `onClose` none means the host's own dismissal
    // (dismissRequested).
    OnlinePlaylistImportModel(std::shared_ptr<OnlinePlaylistImporting> service,
                              std::shared_ptr<LibraryStore> library, MacArtworkLoader* artwork,
                              AppTaskRunner runner, std::function<void()> onImported,
                              std::function<void()> onClose, QObject* parent = nullptr);
    ~OnlinePlaylistImportModel() override;

    QString input() const { return input_; }
    void setInput(const QString& input);
    bool clearVisible() const { return !input_.isEmpty(); }
    bool inputFocused() const { return inputFocused_; }
    void setInputFocused(bool focused);
    MusicSource source() const { return source_; }
    void setSource(MusicSource source);

    State state() const { return state_; }
    QString stateName() const;
    QString failureMessage() const { return QString::fromStdString(failure_); }
    const std::optional<std::string>& saveError() const { return saveError_; }
    QString saveErrorText() const { return QString::fromStdString(saveError_.value_or("")); }
    bool hasSaveError() const { return saveError_.has_value(); }
    const std::optional<OnlinePlaylistPreview>& loadedPreview() const { return preview_; }
    const std::optional<PlaylistImportResult>& importResult() const { return result_; }
    const std::unordered_set<std::string>& existingIDs() const { return existingIDs_; }
    // The id of the current request; none after a reset. A fresh id for every reading.
    std::optional<std::uint64_t> requestID() const {
        return request_ ? std::optional(request_->id) : std::nullopt;
    }
    // The preview's songs already in a listed playlist.
    int existingCount(const OnlinePlaylistPreview& preview) const;

    QVariantMap previewValue() const { return previewValue_; }
    QVariantMap footerValue() const { return footerValue_; }
    QVariantMap resultValue() const;
    static QVariantMap texts();
    MacArtworkLoader* artworkLoader() const { return artwork_; }

    // Reads the typed link unless a reading runs or the input is blank.
    Q_INVOKABLE void startReading();
    // Back to the empty sheet; a reading under way is cancelled and changes nothing.
    Q_INVOKABLE void reset();
    // Merges the loaded preview into the personal playlist.
    Q_INVOKABLE void save();
    // "更换歌单": reset, then the link field takes the focus.
    Q_INVOKABLE void change();
    // The clear button: empties the field (which resets) and focuses it.
    Q_INVOKABLE void clearInput();
    // The header's close button and "完成".
    Q_INVOKABLE void close();
    // Return or Enter outside the link field: the enabled primary button, if any.
    Q_INVOKABLE void pressPrimary();

  signals:
    void inputChanged();
    void inputFocusedChanged();
    // The link field should take the keyboard focus.
    void focusRequested();
    void stateChanged();
    void saveErrorChanged();
    void previewChanged();
    void footerChanged();
    // Closing without an onClose: the host dismisses the sheet.
    void dismissRequested();

  private:
    struct Request {
        std::uint64_t id = 0;
        std::string input;
        MusicSource source = MusicSource::wy;
    };

    void read(const Request& request);
    void finishReading(std::uint64_t requestID, TaskResult<OnlinePlaylistPreview>& outcome);
    std::unordered_set<std::string> listExistingIDs() const;
    void setState(State state);
    void setSaveError(std::optional<std::string> error);
    void setExistingIDs(std::unordered_set<std::string> ids);
    void refreshPreview();
    void refreshFooter();
    bool isCurrent(std::uint64_t requestID) const { return request_ && request_->id == requestID; }

    std::shared_ptr<OnlinePlaylistImporting> service_;
    std::shared_ptr<LibraryStore> library_;
    QPointer<MacArtworkLoader> artwork_;
    AppTaskRunner runner_;
    std::function<void()> onImported_;
    std::function<void()> onClose_;

    QString input_;
    MusicSource source_ = MusicSource::wy;
    std::optional<Request> request_;
    std::stop_source reading_;
    std::uint64_t nextRequestID_ = 0;
    State state_ = State::idle;
    std::optional<OnlinePlaylistPreview> preview_;
    std::string failure_;
    std::optional<PlaylistImportResult> result_;
    std::unordered_set<std::string> existingIDs_;
    std::optional<std::string> saveError_;
    bool inputFocused_ = false;
    QVariantMap previewValue_;
    QVariantMap footerValue_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velto
