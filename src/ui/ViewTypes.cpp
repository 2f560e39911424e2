#include "ui/ViewTypes.h"

#include <QJSEngine>
#include <QQmlEngine>

#include "ui/keys/FocusChain.h"
#include "ui/keys/ListKeys.h"
#include "ui/views/MacAlbumPageModel.h"
#include "ui/views/MacArtistPageModel.h"
#include "ui/artwork/MacArtworkModel.h"
#include "ui/views/MacCatalogFrameModel.h"
#include "ui/views/MacCatalogServices.h"
#include "ui/views/MacLyricsModel.h"
#include "ui/views/MacPlaybackControlsModel.h"
#include "ui/views/MacSeekSliderModel.h"
#include "ui/views/MacTrackListModel.h"
#include "ui/views/OnlinePlaylistImportModel.h"
#include "ui/views/PlaylistPageModel.h"
#include "ui/artwork/RoundedImageItem.h"
#include "ui/keys/SliderKeys.h"
#include "ui/style/SymbolTable.h"
#include "ui/style/Theme.h"
#include "ui/style/ViewTexts.h"
#include "ui/notch/NotchMeterItem.h"
#include "ui/notch/NotchMeterModel.h"

namespace velto {

void registerViewTypes(Theme* theme) {
    constexpr const char* uri = "Velto";
    // One theme for every engine (tests make several), owned by the caller.
    static Theme* shared = theme;
    qmlRegisterSingletonType<Theme>(uri, 1, 0, "Theme", [](QQmlEngine*, QJSEngine*) -> QObject* {
        QJSEngine::setObjectOwnership(shared, QJSEngine::CppOwnership);
        return shared;
    });
    qmlRegisterSingletonType<SymbolTable>(uri, 1, 0, "Symbols",
                                          [](QQmlEngine*, QJSEngine*) -> QObject* {
                                              return new SymbolTable;
                                          });
    qmlRegisterSingletonType<ViewTexts>(uri, 1, 0, "ViewTexts",
                                        [](QQmlEngine*, QJSEngine*) -> QObject* {
                                            return new ViewTexts;
                                        });
    qmlRegisterSingletonType<ListKeys>(uri, 1, 0, "ListKeys", [](QQmlEngine*, QJSEngine*) -> QObject* {
        return new ListKeys;
    });
    qmlRegisterSingletonType<SliderKeys>(uri, 1, 0, "SliderKeys",
                                         [](QQmlEngine*, QJSEngine*) -> QObject* {
                                             return new SliderKeys;
                                         });
    qmlRegisterType<FocusChain>(uri, 1, 0, "FocusChain");
    qmlRegisterType<RoundedImageItem>(uri, 1, 0, "RoundedImage");
    qmlRegisterType<NotchMeterItem>(uri, 1, 0, "NotchMeterBars");
    qmlRegisterType<MacArtworkModel>(uri, 1, 0, "MacArtworkModel");
    const QString made = QStringLiteral("made by the application");
    qmlRegisterUncreatableType<MacArtworkLoader>(uri, 1, 0, "MacArtworkLoader", made);
    qmlRegisterUncreatableType<MacTrackListModel>(uri, 1, 0, "MacTrackListModel", made);
    qmlRegisterUncreatableType<MacLyricsModel>(uri, 1, 0, "MacLyricsModel", made);
    qmlRegisterUncreatableType<MacPlaybackControlsModel>(uri, 1, 0, "MacPlaybackControlsModel",
                                                         made);
    qmlRegisterUncreatableType<MacSeekSliderModel>(uri, 1, 0, "MacSeekSliderModel", made);
    qmlRegisterUncreatableType<NotchMeterModel>(uri, 1, 0, "NotchMeterModel", made);
    // The catalog pages make their own models, so each lives exactly as long as its page.
    qmlRegisterType<MacCatalogFrameModel>(uri, 1, 0, "MacCatalogFrameModel");
    qmlRegisterType<MacArtistPageModel>(uri, 1, 0, "MacArtistPageModel");
    qmlRegisterType<MacAlbumPageModel>(uri, 1, 0, "MacAlbumPageModel");
    qmlRegisterType<PlaylistPageModel>(uri, 1, 0, "PlaylistPageModel");
    qmlRegisterUncreatableType<MacCatalogPageModel>(uri, 1, 0, "MacCatalogPageModel", made);
    qmlRegisterUncreatableType<MacCatalogServices>(uri, 1, 0, "MacCatalogServices", made);
    qmlRegisterUncreatableType<OnlinePlaylistImportModel>(uri, 1, 0, "OnlinePlaylistImportModel",
                                                          made);
}

}  // namespace velto
