// Colour: a plain red, green and blue value as the program's rules compute with it.
#pragma once

namespace core {

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

} // namespace core
