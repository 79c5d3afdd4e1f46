// The framer against the plain reference for any rules, stream and split; and no byte is
// lost or made up.

#include <cstdlib>

#include "FuzzInput.h"
#include "ReferenceFramer.h"
#include "serial/ComDataPacket.h"

using namespace vardelio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::TFuzzInput in(data, size);
  test::TReferenceFramer reference;
  reference.start = in.Text(3);
  reference.stop = in.Text(3);
  reference.size = in.Byte() % 8;
  reference.caseInsensitive = in.Flag();
  reference.includeStrings = in.Flag();
  reference.maxBuffer = in.Byte() % 40;
  const std::uint8_t splitSeed = in.Byte();
  const std::string stream = in.Rest();

  TComDataPacket framer;
  framer.SetStartString(reference.start);
  framer.SetStopString(reference.stop);
  framer.SetSize(reference.size);
  framer.SetCaseInsensitive(reference.caseInsensitive);
  framer.SetIncludeStrings(reference.includeStrings);
  framer.SetMaxBufferSize(reference.maxBuffer);
  std::vector<std::string> packets, discards;
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string& s) { packets.push_back(s); });
  framer.OnDiscard = TComStrEvent([&](QObject*, const std::string& s) { discards.push_back(s); });

  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t block = 1 + (splitSeed * (i + 7)) % 13;  // a split of its own kind
    const std::string piece = stream.substr(at, block);
    reference.Append(piece);
    framer.AppendData(piece);
    at += piece.size();
  }
  if (packets != reference.packets || discards != reference.discards ||
      framer.ReceiveBuffer() != reference.buffer || framer.PacketOpen() != reference.open) {
    std::abort();
  }
  if (reference.includeStrings) {  // packets keep their delimiters: every byte is accounted for
    std::size_t total = framer.ReceiveBuffer().size();
    for (const std::string& s : packets)
      total += s.size();
    for (const std::string& s : discards)
      total += s.size();
    if (total != stream.size()) std::abort();
  }
  return 0;
}
