// The moments at which the tests pull the cable: while the server waits, during a
// load and during a save. Shared by the headless server's tests and the window's.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace dorvane::testing {

enum class When { kIdle, kLoad, kSave };

// A test's name for the moment: "WhileIdle", "DuringALoad", "DuringASave".
inline std::string WhenName(const ::testing::TestParamInfo<When>& info) {
  switch (info.param) {
    case When::kIdle:
      return "WhileIdle";
    case When::kLoad:
      return "DuringALoad";
    case When::kSave:
      return "DuringASave";
  }
  return std::string();
}

}  // namespace dorvane::testing
