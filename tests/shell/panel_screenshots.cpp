// Renders the panel in its main states, light and dark, as PNG files for people to look at, and
// checks that each picture has the panel's own background and full width.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <cstdio>
#include <functional>

#include "ops/ui_model.h"
#include "shell/palette.h"
#include "shell/popover_view.h"

using namespace sweepkin;

namespace {

struct Scene {
    const char* name;
    std::function<void(UIModel&)> fill;
};

QPalette darkDesktop() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2D, 0x2D, 0x2D));
    p.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    p.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    p.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    return p;
}

void commonTexts(UIModel& m) {
    m.setFreeDiskText(QStringLiteral("84.99 GB"));
    m.setLastCleanText(QStringLiteral("2026-03-05 14:03:09"));
    m.setLoginOn(true);
}

QVector<CacheRow> sampleRows() {
    return {
        CacheRow{QStringLiteral("Google Chrome"), 1'234'000'000, true},
        CacheRow{QStringLiteral("Visual Studio Code"), 412'000'000, true},
        CacheRow{QStringLiteral("Slack"), 96'000'000, false},
        CacheRow{QStringLiteral("iCloud (CloudKit) cache"), 3'100'000, true},
    };
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("artifacts");
    QDir().mkpath(outDir);

    const Scene scenes[] = {
        {"scanning-empty",
         [](UIModel& m) {
             m.setFreeDiskText(QStringLiteral("84.99 GB"));
             m.setScanning(true);
         }},
        {"rows-ticked",
         [](UIModel& m) {
             commonTexts(m);
             m.setRows(sampleRows());
         }},
        {"no-caches",
         [](UIModel& m) {
             commonTexts(m);
             m.setRows({});
         }},
        {"cleaning",
         [](UIModel& m) {
             commonTexts(m);
             QVector<CacheRow> rows = sampleRows();
             rows[2].size.reset();
             m.setRows(rows);
             m.setCleaning(true);
         }},
    };

    const QPalette lightPalette = QApplication::palette();
    int failures = 0;
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkDesktop() : lightPalette);
        for (const Scene& scene : scenes) {
            UIModel model;
            PopoverView view(&model, AppActions{});
            scene.fill(model);
            view.refresh();
            view.resize(view.sizeHint());
            view.show();
            QApplication::processEvents();
            const QImage image = view.grab().toImage();
            const QString file = QStringLiteral("%1/panel-%2-%3.png")
                                     .arg(outDir, QString::fromLatin1(scene.name),
                                          dark ? QStringLiteral("dark") : QStringLiteral("light"));
            if (!image.save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                ++failures;
                continue;
            }
            const QColor corner = image.pixelColor(2, 2);
            if (image.width() != PopoverView::kWidth ||
                corner.rgb() != Palette::background.resolve(dark).rgb()) {
                std::fprintf(stderr, "%s: width %d, corner %s\n", qPrintable(file), image.width(),
                             qPrintable(corner.name()));
                ++failures;
            }
            std::printf("%s\n", qPrintable(file));
        }
    }
    return failures == 0 ? 0 : 1;
}
