// Protocol tests run once for each way a port may cut the bytes into runs.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/fakes.h"

namespace dorvane::testing {

// A test run once under each of ProtocolSplits: its ScriptedPorts move bytes that
// way. Declare a suite with `class Name : public SplitTest {};`, write its tests
// with TEST_P, and add INSTANTIATE_SPLITS(Name).
class SplitTest : public ::testing::TestWithParam<Split> {
 protected:
  void SetUp() override { SetSplitForNewPorts(GetParam()); }
  void TearDown() override { SetSplitForNewPorts(ProtocolSplits().front()); }
};

inline std::string SplitName(const ::testing::TestParamInfo<Split>& info) {
  return info.param.name;
}
inline void PrintTo(const Split& split, std::ostream* out) { *out << split.name; }

#define INSTANTIATE_SPLITS(suite)                                                     \
  INSTANTIATE_TEST_SUITE_P(Splits, suite,                                             \
                           ::testing::ValuesIn(::dorvane::testing::ProtocolSplits()), \
                           ::dorvane::testing::SplitName)

}  // namespace dorvane::testing
