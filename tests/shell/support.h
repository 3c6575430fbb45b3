#pragma once
// Small helpers shared by the shell's tests.

#include <QByteArray>
#include <QColor>
#include <QPalette>

namespace sweepkin::testing {

// Sets (or, with nullptr, unsets) one environment variable and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value)
        : name_(name), wasSet_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name)) {
        set(value);
    }
    ~ScopedEnv() { set(wasSet_ ? saved_.constData() : nullptr); }
    void set(const char* value) const { value ? qputenv(name_, value) : qunsetenv(name_); }

  private:
    const char* name_;
    bool wasSet_;
    QByteArray saved_;
};

inline QPalette desktopPalette(QColor window, QColor text) {
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    return p;
}

}  // namespace sweepkin::testing
