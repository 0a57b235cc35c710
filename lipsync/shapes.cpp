// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/shapes.hpp"

namespace tarvik::lipsync {

char shape_letter(Shape shape) {
    return shape == Shape::X ? 'X' : static_cast<char>('A' + static_cast<int>(shape));
}

std::optional<Shape> shape_from_letter(char letter) {
    if (letter == 'X') return Shape::X;
    if (letter >= 'A' && letter <= 'H') return static_cast<Shape>(letter - 'A');
    return std::nullopt;
}

} // namespace tarvik::lipsync
