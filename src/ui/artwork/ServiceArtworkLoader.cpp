#include "ui/artwork/ServiceArtworkLoader.h"

#include "artwork/ArtworkService.h"

namespace velto {
namespace {

ArtworkService::ImageDone answer(MacArtworkLoader::Done done) {
    return [done = std::move(done)](TaskResult<ArtworkImagePtr> result) {
        // A failure is already logged by the service; the view shows its placeholder.
        if (!result.ok() || !result.value()) return done(std::nullopt);
        done(ServiceArtworkLoader::image(result.value()));
    };
}

MacArtworkLoader::Cancel canceller(ArtworkRequest request) {
    return [request]() mutable { request.cancel(); };
}

}  // namespace

ServiceArtworkLoader::ServiceArtworkLoader(std::shared_ptr<ArtworkService> service, Clock clock,
                                           QObject* parent)
    : MacArtworkLoader(
          [service, clock](const Track& track, Done done) -> Cancel {
              if (!service) {
                  done(std::nullopt);
                  return [] {};
              }
              return canceller(service->image(track, clock(), answer(std::move(done))));
          },
          [service, clock](const std::string& address, Done done) -> Cancel {
              if (!service) {
                  done(std::nullopt);
                  return [] {};
              }
              return canceller(service->imageAtAddress(address, clock(), answer(std::move(done))));
          },
          parent) {
    if (service)
        lateCovers_ = service->observeLateCovers([this](const std::string& key) {
            emit coverCameLate(QString::fromStdString(key));
        });
}

QImage ServiceArtworkLoader::image(ArtworkImagePtr picture) {
    if (!picture) return {};
    auto* holder = new ArtworkImagePtr(picture);
    return QImage(
        picture->pixels().data(), picture->width(), picture->height(),
        static_cast<qsizetype>(picture->stride()), QImage::Format_RGBA8888_Premultiplied,
        [](void* info) { delete static_cast<const ArtworkImagePtr*>(info); },
        holder);
}

}  // namespace velto
