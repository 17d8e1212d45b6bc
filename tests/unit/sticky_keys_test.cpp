// The sticky-keys commands against the simulated session settings and a real log file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/accessibility.h"
#include "support/handler_harness.h"

namespace {

using testsupport::U32;
using Bytes = std::vector<uint8_t>;

const std::string kSet = testsupport::ProcessorLine("set_stickykey");
const std::string kGet = testsupport::ProcessorLine("get_stickykey");

class StickyKeysTest : public testsupport::HandlerTest {
 protected:
  sim::SimAccessibility& Session(uint32_t flags, bool query_fails = false, bool store_fails = false) {
    session_ = std::make_unique<sim::SimAccessibility>(sim::AccessibilityProfile{flags, query_fails, store_fails});
    services_.accessibility = session_.get();
    return *session_;
  }
  static Bytes Set(const std::vector<Bytes>& arguments) { return testsupport::CallForItem(28, arguments); }
  static Bytes Get() { return testsupport::CallForItem(29, {}); }  // get_stickykey

  std::unique_ptr<sim::SimAccessibility> session_;
};

TEST_F(StickyKeysTest, GetWantsBothFlagsAndSetMovesThemTogetherKeepingTheOthers) {
  const struct { uint32_t flags, on; Bytes argument; uint32_t answer, flags_after; bool query_fails = false,
                 store_fails = false; } cases[] = {
      // On: only when not fully on already; half on (hot key alone, sticky keys alone) counts as off.
      {0x005, 1, U32(1), 1, 0x005}, {0x1FE, 0, U32(1), 0, 0x1FF}, {0x1FB, 0, U32(1), 0, 0x1FF},
      {0x000, 0, U32(1), 0, 0x005},
      // Off: any other state, whenever either flag is set; half on counts as on.
      {0x1FF, 1, U32(0), 0, 0x1FA}, {0x1FE, 0, U32(2), 0, 0x1FA}, {0xFFFFFFFF, 1, U32(0x101), 0, 0xFFFFFFFA},
      {0x1FA, 0, U32(0), 1, 0x1FA},
      {0x1FF, 1, Bytes{1, 0, 0, 0, 0}, 0, 0x1FA},  // too long for 32 bits: state 0
      // Settings that cannot be read or stored answer 1 and stay as they are.
      {0x1FF, 0, U32(1), 1, 0x1FF, true}, {0x1FF, 0, U32(0), 1, 0x1FF, true},
      {0x1FA, 0, U32(1), 1, 0x1FA, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.flags << " " << c.argument.size());
    sim::SimAccessibility& session = Session(c.flags, c.query_fails, c.store_fails);
    EXPECT_EQ(Get(), U32(c.on));
    EXPECT_EQ(Set({c.argument}), U32(c.answer));
    EXPECT_EQ(session.sticky_keys(), c.flags_after);
    EXPECT_EQ(session.store_attempts(), c.answer == 0 || c.store_fails ? 1u : 0u);
  }
}

TEST_F(StickyKeysTest, LogLines) {
  Session(0x1FE);
  Set({U32(1)});
  Get();
  Set({U32(0xFFFFFFFF)});  // the state is logged signed
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                           kSet + "kSvcCmdSetStickyKey", kSet + "Input sticky key state: 1",
                           kSet + "Rsponse data: 0", kGet + "kSvcCmdGetStickyKey",
                           kGet + "Rsponse data: 1", kSet + "kSvcCmdSetStickyKey",
                           kSet + "Input sticky key state: -1", kSet + "Rsponse data: 0"}));
}

}  // namespace
