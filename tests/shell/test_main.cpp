// A QApplication (offscreen) for the widgets, and a scratch HOME so nothing reaches the real one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The icon theme of a GNOME desktop, so that the pictures show the icons installed here.
    QIcon::setThemeSearchPaths({"/usr/share/icons"});
    QIcon::setThemeName("Adwaita");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
