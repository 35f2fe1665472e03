// SPDX-License-Identifier: MIT
// The client's private operations, reached by the tests and fuzz targets alone.
#pragma once

#include "cping.h"

namespace tarnvik {

class cpingTestAccess {
  public:
    static std::int32_t funcIPTextToAddr(const std::string& text) {
        return cping::funcIPTextToAddr(text);
    }
    static std::string funcNormalizeAddress(cping& client, std::string& address, bool nameOnly) {
        return client.funcNormalizeAddress(address, nameOnly);
    }
};

} // namespace tarnvik
