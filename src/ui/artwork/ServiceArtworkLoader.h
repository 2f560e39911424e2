#pragma once

#include <QImage>
#include <chrono>
#include <functional>
#include <memory>

#include "artwork/ArtworkImage.h"
#include "ui/artwork/MacArtworkLoader.h"

namespace velto {

class ArtworkService;

// The views' artwork loader over the application's artwork service. Without a service (it could
// not be made) every load answers at once with no picture.
class ServiceArtworkLoader final : public MacArtworkLoader {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    ServiceArtworkLoader(std::shared_ptr<ArtworkService> service, Clock clock,
                         QObject* parent = nullptr);

    // The picture's pixels as they are, kept alive by the image (and its copies) holding them.
    static QImage image(ArtworkImagePtr picture);

private:
    std::shared_ptr<void> lateCovers_;
};

}  // namespace velto
