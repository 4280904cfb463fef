// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

// A test that needs a program or locale the machine lacks is skipped where a developer runs it,
// but fails where scripts/test.sh runs it (TARVEL_REQUIRE_TOOLS=1): there setup has installed
// everything, and a skip would hide a missing install step.
#define TARVEL_SKIP_MISSING_TOOL(why)                                  \
    do {                                                               \
        if (std::getenv("TARVEL_REQUIRE_TOOLS") != nullptr) {          \
            GTEST_FAIL() << (why) << " (TARVEL_REQUIRE_TOOLS is set)"; \
        }                                                              \
        GTEST_SKIP() << (why);                                         \
    } while (false)
