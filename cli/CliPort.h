// What a command may ask of the port besides exchanges: a new line rate, and whether the adapter is gone.
#pragma once

#include <functional>
#include <string>

struct CCliPort {
    // Switches the port to the rate; false when it could not. Empty: the port cannot change its rate.
    std::function<bool(int baud)> setLineRate;
    // True once the adapter has gone away. Empty: it never does.
    std::function<bool()> isLost;
    // The port's name as opened (its device path); empty when not known.
    std::string path;

    bool IsLost() const { return isLost && isLost(); }
};
