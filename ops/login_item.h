#pragma once
// Registration of the program to start at login (an XDG autostart entry on Linux).

#include <QString>

namespace sweepkin {

class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isRegistered() const = 0;
    // Each returns false and fills `error` with a readable text when it fails.
    virtual bool registerItem(QString* error) = 0;
    virtual bool unregisterItem(QString* error) = 0;
};

}  // namespace sweepkin
