#pragma once

#include <QStringList>
#include <QVariantList>

#include "app/ArtistDetailViewModel.h"
#include "ui/views/MacCatalogPageModel.h"

namespace velto {

// The artist page: header, the three tabs, and per tab its songs or the album grid. Showing
// the page and every tab change load the selected tab when it has neither data nor an error;
// the detail model cancels the load of a tab left and of a page that goes away.
class MacArtistPageModel : public MacCatalogPageModel {
    Q_OBJECT
    Q_PROPERTY(QStringList tabTitles READ tabTitles CONSTANT)
    Q_PROPERTY(int selectedTab READ selectedTab WRITE selectTab NOTIFY selectedTabChanged)
    Q_PROPERTY(QString pickerTitle READ pickerTitle CONSTANT)
    Q_PROPERTY(QString playHelp READ playHelp CONSTANT)
    // The cards of the album grid: name, dateText, imageURL.
    Q_PROPERTY(QVariantList albums READ albums NOTIFY albumsChanged)
    Q_PROPERTY(QString emptyTitle READ emptyTitle NOTIFY selectedTabChanged)
    Q_PROPERTY(QString emptyDetail READ emptyDetail NOTIFY selectedTabChanged)
    // Back from the album a card opened: the card, and how far the grid was scrolled, till the
    // grid has shown them again (-1: none).
    Q_PROPERTY(int leftCard READ leftCard NOTIFY leftChanged)
    Q_PROPERTY(double leftScroll READ leftScroll NOTIFY leftChanged)

  public:
    using MacCatalogPageModel::MacCatalogPageModel;

    // "歌手 · <source>", then " · <n> 首" only for a count above 0.
    using MacCatalogPageModel::subtitle;
    static std::string subtitle(const ArtistSummary& artist);

    ArtistDetailViewModel* detail() const { return detail_; }
    static QStringList tabTitles();
    int selectedTab() const;
    void selectTab(int index);
    static QString pickerTitle() { return QStringLiteral("歌手内容"); }
    static QString playHelp() { return QStringLiteral("播放热门歌曲"); }
    QVariantList albums() const { return albums_; }
    QString emptyTitle() const;
    QString emptyDetail() const;

    void appear() override;
    void disappear() override;
    // Reloads the selected tab, also when it has data.
    void retry() override;
    // An album card, with the grid scrolled so far: pushes that album's place.
    Q_INVOKABLE void openAlbum(int index, double scroll = 0);
    int leftCard() const { return left_ ? left_->entry : -1; }
    double leftScroll() const { return left_ ? left_->scroll : 0; }
    Q_INVOKABLE void forgetLeft();
    // Back from the album a card opened, once the grid holds `count` cards again (else empty):
    // "contentY", the scroll it was left at, kept within the grid's margins (from `origin` less
    // `topMargin` to the content's end past `bottomMargin`, the view `viewHeight` high); "card",
    // that card; "ring", whether it takes the focus: where a key brought the page back, the focus
    // is on the back button (`focusedName`). The place is forgotten then.
    Q_INVOKABLE QVariantMap showAsLeft(int count, double origin, double contentHeight, double viewHeight,
                                       double topMargin, double bottomMargin, const QString& focusedName);

  signals:
    void selectedTabChanged();
    void albumsChanged();
    void leftChanged();

  protected:
    bool build(const MacCatalogDestination& destination) override;
    void refresh() override;

  private:
    ArtistDetailViewModel* detail_ = nullptr;
    QVariantList albums_;
    bool shown_ = false;
    std::optional<MacCatalogDestination::Left> left_;
};

}  // namespace velto
