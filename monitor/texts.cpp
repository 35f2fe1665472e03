// SPDX-License-Identifier: MIT
#include "texts.h"

namespace tarnvik {

std::string Words::render(const Translator& translate) const {
    const std::string text = translate ? translate(english) : std::string(english);
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        // %1 to %9 name values; a value's own '%' is never read again.
        if (text[at] == '%' && at + 1 < text.size() && text[at + 1] >= '1' && text[at + 1] <= '9') {
            const auto index = static_cast<std::size_t>(text[at + 1] - '1');
            out += index < values.size() ? values[index] : std::string();
            ++at;
        } else {
            out += text[at];
        }
    }
    return out;
}

} // namespace tarnvik
