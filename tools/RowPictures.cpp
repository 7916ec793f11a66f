#include "RowPictures.h"

#include "editing/FrameRenderer.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <cstdlib>

struct TRowPictures::TImpl {
    int Argc = 1;
    char Name[16] = "vantrel-convert";
    char* Argv[2] = {Name, nullptr};
    std::unique_ptr<QGuiApplication> App; // after the arguments it refers to
    TLayerImageCache Layers;              // its fonts and pictures go before the application
};

TRowPictures::TRowPictures(bool needed) : FImpl(std::make_unique<TImpl>()) {
    if (!needed || QGuiApplication::instance()) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    FImpl->App = std::make_unique<QGuiApplication>(FImpl->Argc, FImpl->Argv);
}

TRowPictures::~TRowPictures() = default;

TTextMeasure TRowPictures::Measure() const {
    if (!QGuiApplication::instance()) return {};
    return [](const std::string& text, const TWmFont& font, int32_t& width, int32_t& height) {
        const QFontMetrics metrics(LayerFont(font));
        width = metrics.horizontalAdvance(QString::fromStdString(text));
        height = metrics.height();
    };
}

void TRowPictures::Draw(const TlvFilesRecord& row, Bitmap24& frame, int64_t ptsUS) {
    RenderRowFrame(row, frame, ptsUS, FImpl->Layers);
}

bool EditsNeedPictures(const std::vector<std::string>& edits) {
    TlvFilesRecord row = NewFilesRecord("", "", 0, "lbox");
    ApplyRowEdits(edits, row);
    return !row.Watermarks.empty() || NeedsFrameHook(row);
}
