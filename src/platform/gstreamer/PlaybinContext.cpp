#include "platform/gstreamer/PlaybinContext.h"

namespace velto {

gpointer holdContext(const PlaybinContextPtr& context) {
    return new PlaybinContextPtr(context);
}

void releaseContext(gpointer data) {
    delete static_cast<PlaybinContextPtr*>(data);
}

void releaseContextClosure(gpointer data, GClosure*) {
    releaseContext(data);
}

}  // namespace velto
