#include <gtest/gtest.h>

#include <random>

#include "FakeComPlatform.h"
#include "ReferenceFramer.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::test::TFakeComPlatform;

namespace {

using Texts = std::vector<std::string>;

// A framer whose packets and discards are written down.
struct TRecordedFramer {
  TRecordedFramer() {
    framer.OnPacket =
        TComStrEvent([this](QObject*, const std::string& s) { packets.push_back(s); });
    framer.OnDiscard =
        TComStrEvent([this](QObject*, const std::string& s) { discards.push_back(s); });
  }
  TComDataPacket framer;
  Texts packets, discards;
};

struct FrameCase {
  const char* name;
  std::function<void(TComDataPacket&)> configure;
  Texts blocks;
  Texts packets;
  Texts discards;
  std::string left;  // still buffered
};

void MainWindowSettings(TComDataPacket& f) {
  f.SetStartString("S");
  f.SetStopString("Z");
}

class Framer : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Framer, CutsTheStreamIntoPackets) {
  const FrameCase& c = GetParam();
  TRecordedFramer r;
  c.configure(r.framer);
  for (const std::string& block : c.blocks)
    r.framer.AppendData(block);
  EXPECT_EQ(r.packets, c.packets);
  EXPECT_EQ(r.discards, c.discards);
  EXPECT_EQ(r.framer.ReceiveBuffer(), c.left);
}

INSTANTIATE_TEST_SUITE_P(
    ComDataPacket, Framer,
    ::testing::Values(
        FrameCase{"Acknowledgement", MainWindowSettings, {"SOKZ"}, {"OK"}, {}, ""},
        FrameCase{"BytesBeforeTheStart", MainWindowSettings, {"xxSOKZ"}, {"OK"}, {"xx"}, ""},
        FrameCase{"SplitAcrossBlocks", MainWindowSettings, {"SO", "KZ"}, {"OK"}, {}, ""},
        FrameCase{"TwoPacketsInOneBlock", MainWindowSettings, {"SOKZSFZ"}, {"OK", "F"}, {}, ""},
        FrameCase{"TrailingBytesWait", MainWindowSettings, {"SOKZxy"}, {"OK"}, {}, "xy"},
        FrameCase{"TrailingBytesDiscardedAtTheNextStart",
                  MainWindowSettings,
                  {"SOKZxy", "SFZ"},
                  {"OK", "F"},
                  {"xy"},
                  ""},
        FrameCase{"EmptyPacket", MainWindowSettings, {"SZ"}, {""}, {}, ""},
        FrameCase{"CaseMatters", MainWindowSettings, {"sOKz"}, {}, {}, "sOKz"},
        FrameCase{"NoEndRuleDeliversBlocksAsTheyCame",
                  [](TComDataPacket& f) { f.SetStartString("S"); },
                  {"SOK", "xZ"},
                  {"SOK", "xZ"},
                  {},
                  ""},
        FrameCase{"NoStartString",
                  [](TComDataPacket& f) { f.SetStopString("Z"); },
                  {"ABZCD"},
                  {"AB"},
                  {},
                  "CD"},
        FrameCase{"SizeComesBeforeTheStopString",
                  [](TComDataPacket& f) {
                    f.SetStartString("S");
                    f.SetSize(4);
                  },
                  {"SABCDEF"},
                  {"ABC"},
                  {},
                  "DEF"},
        FrameCase{"ABufferExactlySizeLong",
                  [](TComDataPacket& f) {
                    f.SetStartString("S");
                    f.SetSize(4);
                  },
                  {"SAB", "C"},
                  {"ABC"},
                  {},
                  ""},
        FrameCase{"SizeFiveWholeBlock",
                  [](TComDataPacket& f) {
                    MainWindowSettings(f);
                    f.SetSize(5);
                  },
                  {"SABZCD"},
                  {"ABZC"},
                  {},
                  "D"},
        FrameCase{"SizeFiveSplitBlocks",
                  [](TComDataPacket& f) {
                    MainWindowSettings(f);
                    f.SetSize(5);
                  },
                  {"SABZ", "CD"},
                  {"AB"},
                  {},
                  "CD"},
        FrameCase{"IncludeStrings",
                  [](TComDataPacket& f) {
                    MainWindowSettings(f);
                    f.SetIncludeStrings(true);
                  },
                  {"SOKZ"},
                  {"SOKZ"},
                  {},
                  ""},
        FrameCase{"CaseInsensitive",
                  [](TComDataPacket& f) {
                    f.SetCaseInsensitive(true);
                    f.SetStartString("s");
                    f.SetStopString("Z");
                  },
                  {"xSOKz"},
                  {"OK"},
                  {"x"},
                  ""},
        FrameCase{"StartStringIsNotTakenForTheStop",
                  [](TComDataPacket& f) {
                    f.SetStartString("AB");
                    f.SetStopString("B");
                  },
                  {"ABxB"},
                  {"x"},
                  {},
                  ""},
        // A packet opened by a handler, not at a start string: its stop is cut only when
        // its first stop string is the one at the end.
        FrameCase{"AHandlersStartKeepsAStopThatIsNotTheFirst",
                  [](TComDataPacket& f) {
                    MainWindowSettings(f);
                    f.OnCustomStart =
                        TCustPacketEvent([](QObject*, const std::string&, int& pos) { pos = 1; });
                  },
                  {"ZabZ"},
                  {"ZabZ"},
                  {},
                  ""},
        FrameCase{"NulBytesKept",
                  MainWindowSettings,
                  {std::string("S\0\0Z", 4)},
                  {std::string("\0\0", 2)},
                  {},
                  ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ComDataPacket, AFullBufferIsDiscardedOnceItsLastByteArrives) {
  TRecordedFramer r;
  MainWindowSettings(r.framer);
  r.framer.AppendData(std::string(1023, 'x'));
  EXPECT_TRUE(r.discards.empty());
  EXPECT_EQ(r.framer.ReceiveBuffer().size(), 1023u);
  r.framer.AppendData("x");
  EXPECT_EQ(r.discards, Texts{std::string(1024, 'x')});
  EXPECT_TRUE(r.framer.ReceiveBuffer().empty());
}

TEST(ComDataPacket, APacketInsideAnOversizedBlockIsStillDelivered) {
  TRecordedFramer r;
  MainWindowSettings(r.framer);
  r.framer.SetMaxBufferSize(4);
  r.framer.AppendData("SOKZSFZxxxx");
  EXPECT_EQ(r.packets, (Texts{"OK", "F"}));
  EXPECT_EQ(r.discards, Texts{"xxxx"});
}

TEST(ComDataPacket, CustomHandlersChooseStartAndEnd) {
  TRecordedFramer r;
  MainWindowSettings(r.framer);
  r.framer.OnCustomStop = TCustPacketEvent([](QObject*, const std::string&, int& pos) { pos = 5; });
  r.framer.AppendData("SAZBZ");
  EXPECT_EQ(r.packets, Texts{"AZBZ"});  // the stop string is not at its very end

  TRecordedFramer waiting;
  MainWindowSettings(waiting.framer);
  waiting.framer.OnCustomStart =
      TCustPacketEvent([](QObject*, const std::string&, int& pos) { pos = 0; });
  waiting.framer.AppendData("xxSOKZ");
  EXPECT_TRUE(waiting.packets.empty());
  EXPECT_EQ(waiting.framer.ReceiveBuffer(), "xxSOKZ");

  TRecordedFramer beyond;  // positions past the end take the whole buffer
  MainWindowSettings(beyond.framer);
  beyond.framer.OnCustomStart =
      TCustPacketEvent([](QObject*, const std::string&, int& pos) { pos = 100; });
  beyond.framer.AppendData("abc");
  EXPECT_EQ(beyond.discards, Texts{"abc"});
  EXPECT_TRUE(beyond.framer.PacketOpen());
}

TEST(ComDataPacket, AnEndHandlerThatAlwaysEndsCannotLoopForever) {
  TRecordedFramer r;
  r.framer.OnCustomStop = TCustPacketEvent([](QObject*, const std::string&, int& pos) { pos = 3; });
  r.framer.AppendData("abcdefg");
  EXPECT_EQ(r.packets, (Texts{"abc", "def", "g", ""}));
}

TEST(ComDataPacket, ChangingTheRulesDiscardsWhatWasBuffered) {
  TRecordedFramer r;
  MainWindowSettings(r.framer);
  r.framer.AppendData("SOK");
  r.framer.SetStartString("S");  // the same: nothing
  EXPECT_TRUE(r.discards.empty());
  r.framer.SetStartString("A");
  EXPECT_EQ(r.discards, Texts{"SOK"});
  EXPECT_FALSE(r.framer.PacketOpen());
  r.framer.BeginLoading();
  r.framer.AppendData("xx");
  r.framer.SetStopString("Y");  // while loading: stored only
  EXPECT_EQ(r.framer.ReceiveBuffer(), "xx");

  // A discard handler that changes the rules again has nothing more to discard.
  TRecordedFramer again;
  MainWindowSettings(again.framer);
  again.framer.AppendData("SOK");
  int changes = 0;
  again.framer.OnDiscard = TComStrEvent([&](QObject*, const std::string& s) {
    again.discards.push_back(s);
    again.framer.SetStopString("Y" + std::to_string(++changes));
  });
  again.framer.SetStartString("A");
  EXPECT_EQ(again.discards, Texts{"SOK"});
  EXPECT_EQ(changes, 1);
}

// With no start string a packet opens on an empty buffer. However the rules then change, that
// packet closes, and what comes next needs the new start to be a packet.
TEST(ComDataPacket, APacketOpenOnAnEmptyBufferClosesWhenTheRulesChange) {
  const struct {
    const char* name;
    std::function<void(TComDataPacket&)> change;
  } doors[] = {
      {"start", [](TComDataPacket& f) { f.SetStartString("Q"); }},
      {"stop", [](TComDataPacket& f) { f.SetStopString("Y"); }},
      {"size", [](TComDataPacket& f) { f.SetSize(9); }},
      {"case", [](TComDataPacket& f) { f.SetCaseInsensitive(true); }},
      {"reset", [](TComDataPacket& f) { f.ResetBuffer(); }},
  };
  for (const auto& door : doors) {
    TRecordedFramer r;
    r.framer.SetStartString("");
    r.framer.SetStopString("Z");
    r.framer.AppendData("aZ");
    ASSERT_TRUE(r.framer.PacketOpen()) << door.name;
    r.framer.BeginLoading();  // the start comes back stored only, the packet still open
    r.framer.SetStartString("S");
    r.framer.EndLoading();
    door.change(r.framer);
    EXPECT_FALSE(r.framer.PacketOpen()) << door.name;
    r.framer.AppendData("xyZY");
    EXPECT_EQ(r.packets, Texts{"a"}) << door.name;
  }
}

TEST(ComDataPacket, TheFullBufferCheckRunsWhenAHandlerRaises) {
  TRecordedFramer r;
  MainWindowSettings(r.framer);
  r.framer.SetMaxBufferSize(3);
  r.framer.OnPacket =
      TComStrEvent([](QObject*, const std::string&) { throw std::runtime_error("x"); });
  EXPECT_THROW(r.framer.AppendData("SOKZabc"), std::runtime_error);
  EXPECT_EQ(r.discards, Texts{"abc"});
  r.framer.OnDiscard =
      TComStrEvent([](QObject*, const std::string&) { throw std::logic_error("y"); });
  r.framer.OnPacket.Clear();
  EXPECT_THROW(r.framer.AppendData("xyz"), std::logic_error);
  EXPECT_TRUE(r.framer.ReceiveBuffer().empty());  // emptied although the handler raised
}

// A packet handler may change the rules, feed more data or raise in the middle of a block:
// what follows in that block is cut by the rules as they are then.
struct MidBlockCase {
  const char* name;
  std::function<void(TComDataPacket&, int packet)> onPacket;
  Texts packets, discards;
  std::string left;
  bool raises = false;
};

class FramerMidBlock : public ::testing::TestWithParam<MidBlockCase> {};

TEST_P(FramerMidBlock, TheRestOfTheBlockFollowsTheRulesAsTheyAreThen) {
  const MidBlockCase& c = GetParam();
  TRecordedFramer r;
  MainWindowSettings(r.framer);
  r.framer.OnPacket = TComStrEvent([&](QObject*, const std::string& s) {
    r.packets.push_back(s);
    c.onPacket(r.framer, int(r.packets.size()));
  });
  if (c.raises) {
    EXPECT_THROW(r.framer.AppendData("SAZSBZSCZ"), std::runtime_error);
  } else {
    r.framer.AppendData("SAZSBZSCZ");
  }
  EXPECT_EQ(r.packets, c.packets);
  EXPECT_EQ(r.discards, c.discards);
  EXPECT_EQ(r.framer.ReceiveBuffer(), c.left);
}

INSTANTIATE_TEST_SUITE_P(ComDataPacket, FramerMidBlock,
                         ::testing::Values(MidBlockCase{"NewStopDiscardsTheRest",
                                                        [](TComDataPacket& f, int n) {
                                                          if (n == 1) f.SetStopString("Y");
                                                        },
                                                        {"A"},
                                                        {"SBZSCZ"},
                                                        ""},
                                           MidBlockCase{"DelimitersKeptFromThen",
                                                        [](TComDataPacket& f, int n) {
                                                          if (n == 1) f.SetIncludeStrings(true);
                                                        },
                                                        {"A", "SBZ", "SCZ"},
                                                        {},
                                                        ""},
                                           MidBlockCase{"EndHandlerCutsFromThen",
                                                        [](TComDataPacket& f, int n) {
                                                          if (n == 1) {
                                                            f.OnCustomStop = TCustPacketEvent(
                                                                [](QObject*, const std::string&,
                                                                   int& pos) { pos = 2; });
                                                          }
                                                        },
                                                        {"A", "B", "C"},
                                                        {"Z"},
                                                        "Z"},
                                           MidBlockCase{"DataFedFromTheHandler",
                                                        [](TComDataPacket& f, int n) {
                                                          if (n == 1) f.AppendData("xSDZ");
                                                        },
                                                        {"A", "B", "C", "D"},
                                                        {"x"},
                                                        ""},
                                           MidBlockCase{"TheHandlerSeesTheRestBuffered",
                                                        [](TComDataPacket& f, int n) {
                                                          if (n == 1) {
                                                            EXPECT_EQ(f.ReceiveBuffer(), "SBZSCZ");
                                                          }
                                                        },
                                                        {"A", "B", "C"},
                                                        {},
                                                        ""},
                                           MidBlockCase{"AResetDiscardsTheRest",
                                                        [](TComDataPacket& f, int n) {
                                                          if (n == 1) f.ResetBuffer();
                                                        },
                                                        {"A"},
                                                        {"SBZSCZ"},
                                                        ""},
                                           MidBlockCase{"RaisingLeavesTheRestBuffered",
                                                        [](TComDataPacket&, int n) {
                                                          if (n == 2) throw std::runtime_error("x");
                                                        },
                                                        {"A", "B"},
                                                        {},
                                                        "SCZ",
                                                        true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The framer against the rules written the plain way: random rules, streams and splits.
TEST(ComDataPacket, CutsAsThePlainReferenceDoesWhateverTheRulesAndSplits) {
  std::mt19937 random(812);
  const std::string starts[] = {"", "S", "AB", "s", "Z"};
  const std::string stops[] = {"", "Z", "BZ", "z"};
  const std::string alphabet = "SZszABx";
  for (int round = 0; round < 3000; ++round) {
    vardelio::test::TReferenceFramer reference;
    reference.start = starts[random() % 5];
    reference.stop = stops[random() % 4];
    reference.size = int(random() % 3) * 2;  // 0, 2 or 4
    reference.caseInsensitive = random() % 2;
    reference.includeStrings = random() % 2;
    reference.maxBuffer = int(random() % 3) * 6;  // none, 6 or 12
    TRecordedFramer r;
    r.framer.SetStartString(reference.start);
    r.framer.SetStopString(reference.stop);
    r.framer.SetSize(reference.size);
    r.framer.SetCaseInsensitive(reference.caseInsensitive);
    r.framer.SetIncludeStrings(reference.includeStrings);
    r.framer.SetMaxBufferSize(reference.maxBuffer);
    for (int blocks = int(random() % 6); blocks > 0; --blocks) {
      std::string block;
      for (int i = int(random() % 20); i > 0; --i)
        block += alphabet[random() % alphabet.size()];
      reference.Append(block);
      r.framer.AppendData(block);
    }
    ASSERT_EQ(r.packets, reference.packets) << round;
    ASSERT_EQ(r.discards, reference.discards) << round;
    ASSERT_EQ(r.framer.ReceiveBuffer(), reference.buffer) << round;
    ASSERT_EQ(r.framer.PacketOpen(), reference.open) << round;
  }
}

// Handlers that change the rules, feed data, reset, raise or look at the buffer in the middle
// of a block: the usual one-character rules cut as the general scan does, which a start
// handler that leaves the position alone forces.
Texts CutWithHandlers(bool general, const Texts& blocks,
                      const std::function<void(TComDataPacket&, int n)>& act) {
  TComDataPacket f;
  MainWindowSettings(f);
  if (general) f.OnCustomStart = TCustPacketEvent([](QObject*, const std::string&, int&) {});
  Texts log;
  int n = 0;
  f.OnPacket = TComStrEvent([&](QObject*, const std::string& s) {
    log.push_back("P" + s);
    act(f, ++n);
  });
  f.OnDiscard = TComStrEvent([&](QObject*, const std::string& s) {
    log.push_back("D" + s);
    act(f, ++n);
  });
  for (const std::string& block : blocks) {
    try {
      f.AppendData(block);
    } catch (const std::runtime_error&) {
      log.push_back("raised");
    }
  }
  log.push_back("left " + f.ReceiveBuffer() + (f.PacketOpen() ? " open" : ""));
  return log;
}

TEST(ComDataPacket, TheUsualRulesCutAsTheGeneralScanDoesWhateverTheHandlersDo) {
  std::mt19937 random(4077);
  auto text = [](std::mt19937& g, int most) {
    std::string s;
    for (int i = int(g() % unsigned(most + 1)); i > 0; --i)
      s += "SZxaz"[g() % 5];
    return s;
  };
  using TAct = std::function<void(TComDataPacket&, std::mt19937&, int n)>;
  Texts seen;  // the buffer as a handler sees it
  const TAct acts[] = {
      [&seen](auto& f, auto&, int) {
        seen.push_back(f.ReceiveBuffer() + (f.PacketOpen() ? " open" : ""));
      },
      [&](auto& f, auto& g, int n) {
        if (n < 10) f.AppendData(text(g, 5));
      },
      [](auto& f, auto&, int) { f.SetIncludeStrings(!f.IncludeStrings()); },
      [](auto& f, auto&, int) { f.ResetBuffer(); },
      [](auto& f, auto& g, int) { f.SetStopString(g() % 2 ? "Z" : "x"); },
      [](auto& f, auto& g, int) { f.SetStartString(std::string("SZ").substr(g() % 2, 1)); },
      [](auto& f, auto& g, int) { f.SetStartString(g() % 2 ? "S" : "Sx"); },
      [](auto&, auto&, int) { throw std::runtime_error("x"); },
      [](auto& f, auto& g, int) { f.SetMaxBufferSize(int(g() % 8)); },
      [](auto& f, auto&, int) { f.SetCaseInsensitive(!f.CaseInsensitive()); },
      [](auto& f, auto& g, int) { f.SetSize(int(g() % 3)); },
      [](auto& f, auto&, int) {
        f.OnCustomStop = TCustPacketEvent([](QObject*, const std::string&, int& pos) { pos = 2; });
      },
      [](auto& f, auto&, int) { f.OnCustomStop.Clear(); },
      [](auto& f, auto& g, int) { f.SetStopString(g() % 2 ? "" : "Z"); },  // no end: blocks
      [](auto& f, auto& g, int) {  // while loading: the rules change and the buffer stays
        f.BeginLoading();
        f.SetStartString(g() % 2 ? "S" : "Z");
        f.SetStopString(g() % 2 ? "Z" : "a");
        f.EndLoading();
      },
  };
  for (int round = 0; round < 5000; ++round) {
    const unsigned seed = random();
    Texts blocks;
    for (int i = 1 + int(random() % 3); i > 0; --i)
      blocks.push_back(text(random, 8));
    auto act = [&](TComDataPacket& f, int n) {
      std::mt19937 g(seed + unsigned(n));  // the same act at the same step in both runs
      if (const std::size_t k = g() % 19; k < std::size(acts)) acts[k](f, g, n);
    };
    const Texts plain = CutWithHandlers(false, blocks, act);
    const Texts plainSeen = std::exchange(seen, {});
    ASSERT_EQ(plain, CutWithHandlers(true, blocks, act))
        << round << " " << ::testing::PrintToString(blocks);
    ASSERT_EQ(plainSeen, std::exchange(seen, {})) << round;
  }
}

// With no bound and no size, how the stream is split into blocks changes nothing.
TEST(ComDataPacket, AnySplitOfTheStreamGivesTheSamePackets) {
  std::mt19937 random(1207);
  const std::pair<std::string, std::string> rules[] = {
      {"S", "Z"}, {"SS", "ZZ"}, {"", "Z"}, {"AB", "BA"}};
  for (const auto& [start, stop] : rules) {
    for (int round = 0; round < 150; ++round) {
      std::string stream;
      const std::string alphabet = "SZABxO";
      for (int i = random() % 60; i > 0; --i)
        stream += alphabet[random() % alphabet.size()];
      auto configure = [&](TComDataPacket& f) {
        f.SetMaxBufferSize(0);
        f.SetStartString(start);
        f.SetStopString(stop);
      };
      TRecordedFramer whole, split;
      configure(whole.framer);
      configure(split.framer);
      whole.framer.AppendData(stream);
      for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = 1 + random() % 5;
        split.framer.AppendData(stream.substr(at, n));
        at += n;
      }
      ASSERT_EQ(split.packets, whole.packets) << start << stop << " " << stream;
      ASSERT_EQ(split.framer.ReceiveBuffer(), whole.framer.ReceiveBuffer()) << stream;
    }
  }
}

TEST(ComDataPacket, AttachesThroughItsLinkAndLetsGoOfAPortThatGoesAway) {
  TFakeComPlatform fake;
  auto* port = new TComPort(nullptr, &fake);
  TComDataPacket framer;
  framer.SetComPort(port);
  EXPECT_TRUE(port->HasBufferLink());
  EXPECT_FALSE(port->RxCharTriggers());
  framer.SetComPort(port);  // the same port: nothing
  framer.SetComPort(nullptr);
  EXPECT_FALSE(port->HasBufferLink());
  framer.SetComPort(port);
  delete port;
  EXPECT_EQ(framer.ComPort(), nullptr);
}

}  // namespace
