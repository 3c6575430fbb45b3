// Renders the panel in its main states, light and dark, as PNG files for people to look at, and
// checks that each picture has the panel's own background and full width.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <cstdio>
#include <functional>
#include <string_view>

#include "ops/ui_model.h"
#include "shell/palette.h"
#include "shell/popover_view.h"

using namespace sweepkin;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("artifacts");
    QDir().mkpath(outDir);

    const QVector<CacheRow> rows = {{"Google Chrome", 1'234'000'000, true},
                                    {"Visual Studio Code", 412'000'000, true},
                                    {"Slack", 96'000'000, false},
                                    {"iCloud (CloudKit) cache", 3'100'000, true}};
    QVector<CacheRow> unmeasured = rows;
    unmeasured[2].size.reset();
    const struct {
        const char* name;
        std::function<void(UIModel&)> fill;
    } scenes[] = {
        {"scanning-empty", [](UIModel& m) { m.setScanning(true); }},
        {"rows-ticked", [&](UIModel& m) { m.setRows(rows); }},
        {"no-caches", [](UIModel& m) { m.setRows({}); }},
        {"cleaning",
         [&](UIModel& m) {
             m.setRows(unmeasured);
             m.setCleaning(true);
         }},
    };

    const QPalette lightPalette = QApplication::palette();
    QPalette darkPalette;
    darkPalette.setColor(QPalette::Window, QColor(0x2D, 0x2D, 0x2D));
    darkPalette.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    darkPalette.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
    darkPalette.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    int failures = 0;
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette : lightPalette);
        for (const auto& scene : scenes) {
            UIModel model;
            PopoverView view(&model, AppActions{});
            model.setFreeDiskText(QStringLiteral("84.99 GB"));
            if (scene.name != std::string_view("scanning-empty")) {
                model.setLastCleanText(QStringLiteral("2026-03-05 14:03:09"));
                model.setLoginOn(true);
            }
            scene.fill(model);
            view.refresh();
            view.resize(view.sizeHint());
            view.show();
            QApplication::processEvents();
            const QImage image = view.grab().toImage();
            const QString file = QStringLiteral("%1/panel-%2-%3.png")
                                     .arg(outDir, QString::fromLatin1(scene.name),
                                          dark ? QStringLiteral("dark") : QStringLiteral("light"));
            const QColor corner = image.pixelColor(2, 2);
            if (!image.save(file) || image.width() != PopoverView::kWidth ||
                corner.rgb() != Palette::background.resolve(dark).rgb()) {
                std::fprintf(stderr, "%s: not written, or width %d, corner %s\n", qPrintable(file),
                             image.width(), qPrintable(corner.name()));
                ++failures;
            }
            std::printf("%s\n", qPrintable(file));
        }
    }
    return failures == 0 ? 0 : 1;
}
