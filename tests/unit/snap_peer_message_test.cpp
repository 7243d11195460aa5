// The texts windows exchange: the message vocabulary and the frame text.
#include <gtest/gtest.h>

#include <string>

#include "snap/peer_message.h"

namespace {

using K = PeerMessageKind;

TEST(PeerMessageParse, Vocabulary) {
  struct {
    std::string text;
    K kind;
  } cases[] = {
      {"frame", K::kFrame},
      {"frame|extra", K::kFrame},
      {"snapCheck", K::kSnapCheck},
      {"", K::kIgnored},
      {"|", K::kIgnored},
      {"hello", K::kIgnored},
      {"Frame", K::kIgnored},
      {std::string("fr\0me", 5), K::kIgnored},
      // glow: colour then 0 to 2 edges of exactly 5 items
      {"glow|0", K::kGlow},
      {"glow|65416|400,0,401,200,1", K::kGlow},
      {"glow|65416|400,0,401,200,1|0,300,200,301,0", K::kGlow},
      {"glow|65416|1,2,3,4,1|1,2,3,4,1|1,2,3,4,1", K::kIgnored},  // 5 fields
      {"glow", K::kIgnored},
      {"glow|", K::kIgnored},
      {"glow|x", K::kIgnored},
      {"glow|-1", K::kIgnored},
      {"glow|4294967296", K::kIgnored},
      {"glow|65416|400,0,401,1", K::kIgnored},        // 4 items
      {"glow|65416|400,0,401,200,1,1", K::kIgnored},  // 6 items
      {"glow|65416|1000001,0,1,2,1", K::kIgnored},
      {"glow|65416|-1000000,0,1,2,1", K::kGlow},
      {"glow|65416|a,0,1,2,1", K::kIgnored},
      // effects
      {"fx|a|400|110|1|0|200|20", K::kFxApproach},
      {"fx|a|400|110|1|0|200", K::kIgnored},
      {"fx|a|400|110|2|0|200|20", K::kIgnored},
      {"fx|a|400|110|1|0|100001|20", K::kIgnored},
      {"fx|a|1000001|110|1|0|200|20", K::kIgnored},
      {"fx|c|400|110|1|0|200|0|100", K::kFxClick},
      {"fx|c|400|110|1|0|200|0|6000", K::kIgnored},
      {"fx|c|400|110|1|0|200|0|-1", K::kIgnored},
      {"fx|c|400|110|1|0|200|0", K::kIgnored},
      {"fx|0", K::kFxEnd},
      {"fx|zz|1", K::kFxEnd},
      {"fx", K::kIgnored},
      // moves
      {"moveTo|10|20", K::kMoveTo},
      {"moveTo| -10|+20px", K::kMoveTo},  // the standard conversion's leniency
      {"moveTo|10|20|30", K::kIgnored},
      {"moveTo|2000000|0", K::kIgnored},
      {"moveTo|99999999999|0", K::kIgnored},
      {"moveTo||0", K::kIgnored},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePeerMessage(c.text).kind, c.kind) << '"' << c.text << '"';
}

TEST(PeerMessageParse, Fields) {
  PeerMessage g = ParsePeerMessage("glow|4294967295|400,0,401,200,1|0,300,200,301,x");
  ASSERT_EQ(g.kind, K::kGlow);
  EXPECT_EQ(g.colour, 0xFFFFFFu);  // masked to 24 bits
  EXPECT_EQ(g.lineCount, 2);
  EXPECT_EQ(g.lines[3], 200);
  EXPECT_TRUE(g.vertical[0]);
  EXPECT_FALSE(g.vertical[1]);  // anything but "1" is horizontal
  PeerMessage c = ParsePeerMessage("fx|c|400|110|-1|0|200|3|250");
  ASSERT_EQ(c.kind, K::kFxClick);
  EXPECT_TRUE(c.guide.active);
  EXPECT_TRUE(c.guide.click);
  EXPECT_EQ(c.guide.nx, -1);
  EXPECT_EQ(c.guide.gap, 3);
  EXPECT_EQ(c.guide.duration, 250);
  EXPECT_EQ(c.guide.scale, 96);
  PeerMessage m = ParsePeerMessage("moveTo| -10|+20px");
  EXPECT_EQ(m.x, -10);
  EXPECT_EQ(m.y, 20);
}

TEST(FrameTextTest, RoundTripAndStrictReading) {
  FrameText f;
  int w[4] = {100, 200, 420, 560}, p[4] = {100, 237, 420, 523};
  std::copy(w, w + 4, f.window);
  std::copy(p, p + 4, f.page);
  f.visible = true;
  f.main = true;
  EXPECT_EQ(FormatFrameText(f), "100,200,420,560;100,237,420,523;1;1");
  FrameText back;
  ASSERT_TRUE(ParseFrameText("100,200,420,560;100,237,420,523;1;1", back));
  EXPECT_EQ(back.page[1], 237);
  EXPECT_TRUE(back.visible);
  ASSERT_TRUE(ParseFrameText("-5,-6,1,1;0,0,1,1;0;x", back));
  EXPECT_FALSE(back.visible);
  EXPECT_FALSE(back.main);
  const char* bad[] = {"",
                       "100,200,420,560;100,237,420,523;1",
                       "100,200,420,560;100,237,420,523;1;1;1",
                       "100,200,420;100,237,420,523;1;1",
                       "100,200,420,0;100,237,420,523;1;1",
                       "100,200,-420,5;100,237,420,523;1;1",
                       "100,200,420,560px;100,237,420,523;1;1",
                       " 100,200,420,560;100,237,420,523;1;1",
                       "1000001,200,420,560;100,237,420,523;1;1",
                       "+100,200,420,560;100,237,420,523;1;1",
                       "-,200,420,560;100,237,420,523;1;1"};
  for (const char* text : bad) EXPECT_FALSE(ParseFrameText(text, back)) << text;
}

}  // namespace
