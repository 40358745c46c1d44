#include "platform/desktop/ScreenCapture.h"

namespace ScreenCapture {

void captureDisplays(QObject* context, std::function<void(QList<QImage>)> done) {
    backend().captureDisplays(context, std::move(done));
}

} // namespace ScreenCapture
