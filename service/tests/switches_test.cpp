#include "switches.h"

#include <gtest/gtest.h>

namespace koba::service {
namespace {

using Op = Operation;

struct PlanCase {
  const wchar_t* arguments;
  Role role;
  std::vector<Op> operations;
};

TEST(SwitchesTest, PlansRunInTheFixedOrderWhateverTheSwitchOrder) {
  const PlanCase cases[] = {
      {L"", Role::kService, {}},
      {L" -x", Role::kService, {}},
      {L" install", Role::kService, {}},
      {L" -i -s", Role::kControl, {Op::kInstall, Op::kStart}},
      {L" -s -i", Role::kControl, {Op::kInstall, Op::kStart}},
      {L" -u -i -s", Role::kControl, {Op::kUninstall, Op::kInstall, Op::kStart}},
      {L" -S -K -U -I", Role::kControl, {Op::kStop, Op::kUninstall, Op::kInstall, Op::kStart}},
      {L" -k", Role::kControl, {Op::kStop}},
      {L" -u -k", Role::kControl, {Op::kStop, Op::kUninstall}},
      {L" -U", Role::kControl, {Op::kUninstall}},
      {L" -kui", Role::kControl, {Op::kStop}},
      {L" -m -i", Role::kMonitor, {}},
      {L" -i-m", Role::kMonitor, {}},
      {L"-i", Role::kControl, {Op::kInstall}},
      {L" -", Role::kService, {}},
      {L" --s", Role::kControl, {Op::kStart}},
  };
  for (const PlanCase& c : cases) {
    const Plan plan = PlanFor(ParseSwitches(c.arguments));
    EXPECT_EQ(plan.role, c.role) << c.arguments;
    EXPECT_EQ(plan.operations, c.operations) << c.arguments;
  }
}

TEST(SwitchesTest, EveryLetterSetsItsOwnFlagOnly) {
  const Switches s = ParseSwitches(L"-k -u -i");
  EXPECT_TRUE(s.stop && s.uninstall && s.install);
  EXPECT_FALSE(s.start || s.monitor);
  const Switches w = ParseSwitches(L"-kui");
  EXPECT_TRUE(w.stop);
  EXPECT_FALSE(w.uninstall || w.install || w.start || w.monitor);
}

}  // namespace
}  // namespace koba::service
